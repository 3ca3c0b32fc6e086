// Placeholder until generated from Windows' tables.
export interface Amendments {
  decode: Array<[string, number | null]>;
  encode: Array<[number, string | null]>;
}

export const AMENDMENTS: Record<number, Amendments> = {};
