using System;
using System.Collections.Generic;
using System.IO;
using System.Text;

namespace Corvane.Formats
{
    /// <summary>Windows' answers for one code page where the open tables differ from them.</summary>
    internal sealed class CodePageAmendment
    {
        internal readonly int CodePage;
        private readonly bool[] lead = new bool[256];
        private readonly Dictionary<int, int> decode = new Dictionary<int, int>();
        private readonly Dictionary<int, int> encode = new Dictionary<int, int>();

        internal CodePageAmendment(int codePage, int[] leadRanges, int[] decodeRuns, int[] encodeRuns)
        {
            CodePage = codePage;
            for (int i = 0; i < leadRanges.Length; i += 2)
                for (int b = leadRanges[i]; b <= leadRanges[i + 1]; b++) lead[b] = true;
            Expand(decodeRuns, decode);
            Expand(encodeRuns, encode);
        }

        private static void Expand(int[] runs, Dictionary<int, int> into)
        {
            for (int i = 0; i < runs.Length; i += 3)
                for (int k = 0; k < runs[i + 2]; k++) into[runs[i] + k] = runs[i + 1] < 0 ? -1 : runs[i + 1] + k;
        }

        internal bool IsLeadByte(byte b) { return lead[b]; }
        internal bool TryDecode(int sequence, out int character) { return decode.TryGetValue(sequence, out character); }
        internal bool TryEncode(int character, out int sequence) { return encode.TryGetValue(character, out sequence); }
    }

    internal static partial class CodePageAmendments
    {
        internal static CodePageAmendment For(int codePage)
        {
            foreach (var a in All) if (a.CodePage == codePage) return a;
            return null;
        }
    }

    /// <summary>
    /// Text to and from the bytes of a Windows ANSI code page, as Corvane.dll converts: strictly
    /// (a character the code page cannot hold, or bytes that are not text in it, fail with status
    /// -102; nothing becomes '?' or a look-alike). For 1252, 932 and 936 Windows' own tables are
    /// used where the platform's differ; other code pages come from the platform's
    /// <see cref="Encoding.GetEncoding(int)"/> (on .NET Core and later, register
    /// System.Text.Encoding.CodePages' CodePagesEncodingProvider first). Every conversion is
    /// checked by a round trip, in place of Windows' refusal of best fits.
    /// </summary>
    public static class AnsiCodePage
    {
        public const int Default = 1252;

        private static readonly Dictionary<int, Encoding> Encodings = new Dictionary<int, Encoding>();

        private static Encoding Platform(int codePage)
        {
            lock (Encodings)
            {
                Encoding known;
                if (Encodings.TryGetValue(codePage, out known)) return known;
            }
            try
            {
                var encoding = Encoding.GetEncoding(codePage, EncoderFallback.ExceptionFallback, DecoderFallback.ExceptionFallback);
                lock (Encodings) Encodings[codePage] = encoding;
                return encoding;
            }
            catch (Exception e) when (e is ArgumentException || e is NotSupportedException)
            {
                throw new CorvaneException(CorvaneStatus.NotInCodePage,
                    "code page " + codePage + " is not available on this platform (on .NET Core and later, call " +
                    "Encoding.RegisterProvider(CodePagesEncodingProvider.Instance) first)", e);
            }
        }

        private static CorvaneException Refused(string what)
        {
            return new CorvaneException(CorvaneStatus.NotInCodePage, what);
        }

        /// <summary>The bytes of <paramref name="text"/> in the code page; all of them, zero bytes included.</summary>
        public static byte[] GetBytes(string text, int codePage = Default)
        {
            if (text == null) throw new ArgumentNullException(nameof(text));
            var encoding = Platform(codePage);
            var amendment = CodePageAmendments.For(codePage);
            var output = new MemoryStream(text.Length * 2);
            int run = 0;
            for (int i = 0; i < text.Length; i++)
            {
                char c = text[i];
                int sequence = 0;
                bool own = amendment != null && amendment.TryEncode(c, out sequence);
                bool surrogate = char.IsSurrogate(c);
                if (!own && !surrogate) continue;
                EncodeRun(encoding, codePage, text, run, i - run, output);
                run = i + 1;
                // No code page of these holds a character beyond U+FFFF: Windows writes its
                // default character for it, which the DLL refuses.
                if (surrogate || sequence < 0) throw Refused("the text holds a character code page " + codePage + " lacks: U+" + ((int)c).ToString("X4"));
                if (sequence > 0xFF) output.WriteByte((byte)(sequence >> 8));
                output.WriteByte((byte)sequence);
            }
            EncodeRun(encoding, codePage, text, run, text.Length - run, output);
            return output.ToArray();
        }

        // Every character Windows writes and has no amendment for reads back as itself (checked
        // against the whole tables in conformance/): a run that does not read back holds a best
        // fit of the platform's (Mono writes U+FF21 as 'A' even with the exception fallback).
        private static void EncodeRun(Encoding encoding, int codePage, string text, int start, int count, MemoryStream output)
        {
            if (count == 0) return;
            byte[] bytes;
            try
            {
                string run = text.Substring(start, count);
                bytes = encoding.GetBytes(run);
                // Read back as this class reads (Windows' tables where the platform's differ).
                if (GetString(bytes, 0, bytes.Length, codePage) != run)
                    throw Refused("the text holds a character code page " + codePage + " holds only by a best fit");
            }
            catch (EncoderFallbackException e)
            {
                throw new CorvaneException(CorvaneStatus.NotInCodePage, "the text holds a character code page " + encoding.CodePage + " lacks", e);
            }
            catch (DecoderFallbackException e)
            {
                throw new CorvaneException(CorvaneStatus.NotInCodePage, "the text holds a character code page " + encoding.CodePage + " holds only by a best fit", e);
            }
            output.Write(bytes, 0, bytes.Length);
        }

        /// <summary>The text of <paramref name="count"/> bytes in the code page.</summary>
        public static string GetString(byte[] bytes, int offset, int count, int codePage = Default)
        {
            if (bytes == null) throw new ArgumentNullException(nameof(bytes));
            if (offset < 0 || count < 0 || offset > bytes.Length - count) throw new ArgumentOutOfRangeException(nameof(count));
            var encoding = Platform(codePage);
            var amendment = CodePageAmendments.For(codePage);
            if (amendment == null) return DecodeRun(encoding, bytes, offset, count);
            var text = new StringBuilder(count);
            int end = offset + count, run = offset;
            for (int i = offset; i < end;)
            {
                int length = amendment.IsLeadByte(bytes[i]) && i + 1 < end ? 2 : 1;
                int sequence = length == 2 ? bytes[i] << 8 | bytes[i + 1] : bytes[i];
                int character;
                if (amendment.TryDecode(sequence, out character))
                {
                    text.Append(DecodeRun(encoding, bytes, run, i - run));
                    if (character < 0) throw Refused("the bytes are not text in code page " + encoding.CodePage);
                    text.Append((char)character);
                    run = i + length;
                }
                i += length;
            }
            text.Append(DecodeRun(encoding, bytes, run, end - run));
            return text.ToString();
        }

        /// <summary>The text of the bytes in the code page.</summary>
        public static string GetString(byte[] bytes, int codePage = Default)
        {
            if (bytes == null) throw new ArgumentNullException(nameof(bytes));
            return GetString(bytes, 0, bytes.Length, codePage);
        }

        private static string DecodeRun(Encoding encoding, byte[] bytes, int offset, int count)
        {
            if (count == 0) return "";
            try
            {
                return encoding.GetString(bytes, offset, count);
            }
            catch (DecoderFallbackException e)
            {
                throw new CorvaneException(CorvaneStatus.NotInCodePage, "the bytes are not text in code page " + encoding.CodePage, e);
            }
        }
    }
}
