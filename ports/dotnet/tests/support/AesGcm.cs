// Mono's System.Security.Cryptography.AesGcm only throws PlatformNotSupportedException: this stand-in
// with the same members lets the tests compile and run the documentation's AES-GCM example
// here. It is test support, never part of the library. GCM as NIST SP 800-38D gives it, for
// 12-byte nonces and 16-byte tags, over the platform's AES.
using System;

namespace System.Security.Cryptography
{
    public sealed class AesGcm : IDisposable
    {
        private readonly ICryptoTransform aes;
        private readonly byte[] h = new byte[16];

        public AesGcm(byte[] key)
        {
            using (var a = Aes.Create())
            {
                a.Mode = CipherMode.ECB;
                a.Padding = PaddingMode.None;
                aes = a.CreateEncryptor(key, null);
            }
            aes.TransformBlock(new byte[16], 0, 16, h, 0);
        }

        public void Dispose() { aes.Dispose(); }

        private static void Multiply(byte[] x, byte[] y)
        {
            var z = new byte[16];
            var v = (byte[])y.Clone();
            for (int i = 0; i < 128; i++)
            {
                if ((x[i >> 3] >> (7 - (i & 7)) & 1) != 0)
                    for (int k = 0; k < 16; k++) z[k] ^= v[k];
                bool low = (v[15] & 1) != 0;
                for (int k = 15; k > 0; k--) v[k] = (byte)(v[k] >> 1 | v[k - 1] << 7);
                v[0] >>= 1;
                if (low) v[0] ^= 0xE1;
            }
            Buffer.BlockCopy(z, 0, x, 0, 16);
        }

        private byte[] Tag(byte[] j0, byte[] aad, byte[] cipher)
        {
            var s = new byte[16];
            foreach (var part in new[] { aad ?? new byte[0], cipher })
                for (int o = 0; o < part.Length; o += 16)
                {
                    for (int k = 0; k < 16 && o + k < part.Length; k++) s[k] ^= part[o + k];
                    Multiply(s, h);
                }
            long aBits = (aad == null ? 0 : aad.Length) * 8L, cBits = cipher.Length * 8L;
            for (int k = 0; k < 8; k++)
            {
                s[7 - k] ^= (byte)(aBits >> (8 * k));
                s[15 - k] ^= (byte)(cBits >> (8 * k));
            }
            Multiply(s, h);
            var e = new byte[16];
            aes.TransformBlock(j0, 0, 16, e, 0);
            for (int k = 0; k < 16; k++) s[k] ^= e[k];
            return s;
        }

        private void Counter(byte[] j0, byte[] input, byte[] output)
        {
            var counter = (byte[])j0.Clone();
            var stream = new byte[16];
            for (int o = 0; o < input.Length; o += 16)
            {
                for (int k = 15; k >= 12; k--) if (++counter[k] != 0) break;
                aes.TransformBlock(counter, 0, 16, stream, 0);
                for (int k = 0; k < 16 && o + k < input.Length; k++) output[o + k] = (byte)(input[o + k] ^ stream[k]);
            }
        }

        private static byte[] J0(byte[] nonce)
        {
            if (nonce.Length != 12) throw new ArgumentException("12-byte nonces only", nameof(nonce));
            var j0 = new byte[16];
            Buffer.BlockCopy(nonce, 0, j0, 0, 12);
            j0[15] = 1;
            return j0;
        }

        public void Encrypt(byte[] nonce, byte[] plaintext, byte[] ciphertext, byte[] tag, byte[] associatedData = null)
        {
            var j0 = J0(nonce);
            Counter(j0, plaintext, ciphertext);
            Buffer.BlockCopy(Tag(j0, associatedData, ciphertext), 0, tag, 0, tag.Length);
        }

        public void Decrypt(byte[] nonce, byte[] ciphertext, byte[] tag, byte[] plaintext, byte[] associatedData = null)
        {
            var j0 = J0(nonce);
            var expected = Tag(j0, associatedData, ciphertext);
            int diff = 0;
            for (int k = 0; k < tag.Length; k++) diff |= expected[k] ^ tag[k];
            if (diff != 0) throw new CryptographicException("The computed authentication tag did not match the input authentication tag.");
            Counter(j0, ciphertext, plaintext);
        }
    }
}
