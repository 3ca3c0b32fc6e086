using System;

namespace Corvane.Formats
{
    /// <summary>
    /// The Blowfish cipher as Corvane.dll uses it: the published algorithm (16 rounds, tables
    /// from the digits of pi, the key packed most significant byte first), with one convention
    /// of its own: each 4-byte half of a block is a little-endian word. Blocks are enciphered
    /// one by one (no IV, no chaining); <see cref="Encode"/> pads with zero bytes to a whole
    /// block. Keys longer than 72 bytes act as their first 72.
    /// </summary>
    public sealed class Blowfish : IDisposable
    {
        public const int BlockSize = 8;
        private readonly uint[] p = new uint[18];
        private readonly uint[] s = new uint[1024];

        /// <summary>Runs the key schedule. The key must hold at least one byte.</summary>
        public Blowfish(byte[] key)
        {
            if (key == null) throw new ArgumentNullException(nameof(key));
            if (key.Length == 0) throw new CorvaneException(CorvaneStatus.NoKey, "the key is empty");
            Array.Copy(BlowfishTables.InitialP, p, 18);
            Array.Copy(BlowfishTables.InitialS, s, 1024);
            int n = key.Length, i = 0;
            for (int k = 0; k < 18; k++)
            {
                uint w = (uint)key[i] << 24 | (uint)key[(i + 1) % n] << 16 | (uint)key[(i + 2) % n] << 8 | key[(i + 3) % n];
                p[k] ^= w;
                i = (i + 4) % n;
            }
            uint l = 0, r = 0;
            for (int k = 0; k < 18; k += 2)
            {
                Encipher(ref l, ref r);
                p[k] = l;
                p[k + 1] = r;
            }
            for (int k = 0; k < 1024; k += 2)
            {
                Encipher(ref l, ref r);
                s[k] = l;
                s[k + 1] = r;
            }
        }

        private uint F(uint x)
        {
            return ((s[x >> 24] + s[256 + ((x >> 16) & 255)]) ^ s[512 + ((x >> 8) & 255)]) + s[768 + (x & 255)];
        }

        /// <summary>Enciphers the pair of words in place.</summary>
        public void Encipher(ref uint left, ref uint right)
        {
            uint l = left, r = right;
            for (int i = 0; i < 16; i += 2)
            {
                l ^= p[i];
                r ^= F(l);
                r ^= p[i + 1];
                l ^= F(r);
            }
            l ^= p[16];
            r ^= p[17];
            left = r;
            right = l;
        }

        /// <summary>Deciphers the pair of words in place.</summary>
        public void Decipher(ref uint left, ref uint right)
        {
            uint l = left, r = right;
            for (int i = 17; i > 1; i -= 2)
            {
                l ^= p[i];
                r ^= F(l);
                r ^= p[i - 1];
                l ^= F(r);
            }
            l ^= p[1];
            r ^= p[0];
            left = r;
            right = l;
        }

        private static uint Load(byte[] b, int o)
        {
            return b[o] | (uint)b[o + 1] << 8 | (uint)b[o + 2] << 16 | (uint)b[o + 3] << 24;
        }

        private static void Store(uint v, byte[] b, int o)
        {
            b[o] = (byte)v;
            b[o + 1] = (byte)(v >> 8);
            b[o + 2] = (byte)(v >> 16);
            b[o + 3] = (byte)(v >> 24);
        }

        /// <summary>Enciphers the 8 bytes at <paramref name="offset"/> in place.</summary>
        public void EncryptBlock(byte[] buffer, int offset)
        {
            CheckBlock(buffer, offset);
            uint l = Load(buffer, offset), r = Load(buffer, offset + 4);
            Encipher(ref l, ref r);
            Store(l, buffer, offset);
            Store(r, buffer, offset + 4);
        }

        /// <summary>Deciphers the 8 bytes at <paramref name="offset"/> in place.</summary>
        public void DecryptBlock(byte[] buffer, int offset)
        {
            CheckBlock(buffer, offset);
            uint l = Load(buffer, offset), r = Load(buffer, offset + 4);
            Decipher(ref l, ref r);
            Store(l, buffer, offset);
            Store(r, buffer, offset + 4);
        }

        private static void CheckBlock(byte[] buffer, int offset)
        {
            if (buffer == null) throw new ArgumentNullException(nameof(buffer));
            if (offset < 0 || offset > buffer.Length - BlockSize) throw new ArgumentOutOfRangeException(nameof(offset));
        }

        /// <summary>The length of the encrypted form of <paramref name="n"/> bytes: n rounded up to whole blocks.</summary>
        public static long OutputLength(long n)
        {
            return (n + BlockSize - 1) / BlockSize * BlockSize;
        }

        /// <summary>Encrypts <paramref name="count"/> bytes, zero-padded to whole blocks.</summary>
        public byte[] Encode(byte[] input, int offset, int count)
        {
            if (input == null) throw new ArgumentNullException(nameof(input));
            if (offset < 0 || count < 0 || offset > input.Length - count) throw new ArgumentOutOfRangeException(nameof(count));
            var output = new byte[OutputLength(count)];
            Buffer.BlockCopy(input, offset, output, 0, count);
            for (int o = 0; o < output.Length; o += BlockSize) EncryptBlock(output, o);
            return output;
        }

        /// <summary>
        /// Decrypts <paramref name="count"/> bytes. A partial last block is completed with zero
        /// bytes and deciphered whole, as the DLL does; the result is whole blocks and keeps
        /// the padding.
        /// </summary>
        public byte[] Decode(byte[] input, int offset, int count)
        {
            if (input == null) throw new ArgumentNullException(nameof(input));
            if (offset < 0 || count < 0 || offset > input.Length - count) throw new ArgumentOutOfRangeException(nameof(count));
            var output = new byte[OutputLength(count)];
            Buffer.BlockCopy(input, offset, output, 0, count);
            for (int o = 0; o < output.Length; o += BlockSize) DecryptBlock(output, o);
            return output;
        }

        /// <summary>Clears the expanded key.</summary>
        public void Dispose()
        {
            Array.Clear(p, 0, p.Length);
            Array.Clear(s, 0, s.Length);
        }
    }
}
