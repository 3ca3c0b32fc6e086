using System;
using System.IO;

namespace Corvane.Formats
{
    /// <summary>
    /// Texts in the Base64 form of Corvane.Crypt's enCrypt and deCrypt: the text's bytes in an
    /// ANSI code page, zero-padded to whole 8-byte blocks, each block enciphered alone, then
    /// standard Base64 (RFC 4648, with '=' padding, no line breaks). No header, IV or check.
    /// </summary>
    public static class CorvaneText
    {
        /// <summary>The key's bytes as the DLL keeps them: in the code page, up to the first zero byte.</summary>
        public static byte[] KeyBytes(string key, int codePage = AnsiCodePage.Default)
        {
            if (key == null) throw new CorvaneException(CorvaneStatus.NoKey, "no key");
            byte[] bytes;
            try
            {
                bytes = AnsiCodePage.GetBytes(key, codePage);
            }
            catch (CorvaneException e) when (e.Status == CorvaneStatus.NotInCodePage)
            {
                // SetKey reports every conversion failure as no key.
                throw new CorvaneException(CorvaneStatus.NoKey, "the key holds a character code page " + codePage + " lacks", e);
            }
            int end = Array.IndexOf(bytes, (byte)0);
            if (end >= 0) Array.Resize(ref bytes, end);
            if (bytes.Length == 0) throw new CorvaneException(CorvaneStatus.NoKey, "the key is empty");
            return bytes;
        }

        /// <summary>enCrypt: the Base64 ciphertext of <paramref name="text"/> (every character, zero characters included).</summary>
        public static string Encrypt(string text, string key, int codePage = AnsiCodePage.Default)
        {
            if (text == null) throw new ArgumentNullException(nameof(text));
            byte[] keyBytes = KeyBytes(key, codePage);
            byte[] plain = AnsiCodePage.GetBytes(text, codePage);
            using (var cipher = new Blowfish(keyBytes))
            {
                Array.Clear(keyBytes, 0, keyBytes.Length);
                byte[] encrypted = cipher.Encode(plain, 0, plain.Length);
                Array.Clear(plain, 0, plain.Length);
                return Convert.ToBase64String(encrypted);
            }
        }

        /// <summary>
        /// deCrypt: the text of a Base64 ciphertext, up to the first zero byte of the decrypted
        /// bytes (the padding, or a zero character of the text). A wrong key is not detected.
        /// </summary>
        public static string Decrypt(string base64, string key, int codePage = AnsiCodePage.Default)
        {
            if (base64 == null) throw new ArgumentNullException(nameof(base64));
            byte[] keyBytes = KeyBytes(key, codePage);
            byte[] encrypted = DecodeBase64(AnsiCodePage.GetBytes(base64, codePage));
            using (var cipher = new Blowfish(keyBytes))
            {
                Array.Clear(keyBytes, 0, keyBytes.Length);
                byte[] plain = cipher.Decode(encrypted, 0, encrypted.Length);
                int end = Array.IndexOf(plain, (byte)0);
                try
                {
                    return AnsiCodePage.GetString(plain, 0, end < 0 ? plain.Length : end, codePage);
                }
                finally
                {
                    Array.Clear(plain, 0, plain.Length);
                }
            }
        }

        private static sbyte[] BuildTable()
        {
            var t = new sbyte[256];
            for (int i = 0; i < 256; i++) t[i] = Invalid;
            const string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            for (int i = 0; i < 64; i++) t[alphabet[i]] = (sbyte)i;
            t['='] = Pad;
            foreach (char c in " \t\r\n\v\f") t[c] = Space;
            return t;
        }

        private const sbyte Invalid = -1, Space = -2, Pad = -3;
        private static readonly sbyte[] Table = BuildTable();

        /// <summary>
        /// Base64 as the DLL reads it: white space (space, tab, CR, LF, VT, FF) anywhere is
        /// skipped; '=' only as the padding of a last group of 2 or 3 characters; anything else
        /// outside the alphabet, or characters that do not fill a group, is status -107.
        /// </summary>
        public static byte[] DecodeBase64(byte[] text)
        {
            if (text == null) throw new ArgumentNullException(nameof(text));
            var output = new MemoryStream(text.Length / 4 * 3 + 3);
            uint group = 0;
            int inGroup = 0, padding = 0;
            foreach (byte b in text)
            {
                int v = Table[b];
                if (v == Space) continue;
                if (v == Invalid) throw BadBase64("a character outside the Base64 alphabet");
                if (v == Pad)
                {
                    if (inGroup + padding < 2 || inGroup + padding > 3) throw BadBase64("'=' where no padding can stand");
                    ++padding;
                    if (inGroup + padding == 4) inGroup = 4;
                    continue;
                }
                if (padding != 0 || inGroup == 4) throw BadBase64("characters after the padding");
                group = group << 6 | (uint)v;
                if (++inGroup == 4)
                {
                    output.WriteByte((byte)(group >> 16));
                    output.WriteByte((byte)(group >> 8));
                    output.WriteByte((byte)group);
                    group = 0;
                    inGroup = 0;
                }
            }
            if (padding != 0)
            {
                if (inGroup != 4) throw BadBase64("a group left open after '='");
                group <<= 6 * padding;
                output.WriteByte((byte)(group >> 16));
                if (padding == 1) output.WriteByte((byte)(group >> 8));
            }
            else if (inGroup != 0)
            {
                throw BadBase64("characters that do not fill a group of four");
            }
            return output.ToArray();
        }

        private static CorvaneException BadBase64(string what)
        {
            return new CorvaneException(CorvaneStatus.BadBase64, "malformed Base64 text: " + what);
        }
    }
}
