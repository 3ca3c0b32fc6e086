# Placeholder until generated from Windows' tables.
AMENDMENTS = {
    1252: {"decode": [["81", 0x81], ["8d", 0x8D], ["8f", 0x8F], ["90", 0x90], ["9d", 0x9D]],
           "encode": [[0x81, "81"], [0x8D, "8d"], [0x8F, "8f"], [0x90, "90"], [0x9D, "9d"]]},
}
