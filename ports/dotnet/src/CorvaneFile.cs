using System;
using System.IO;

namespace Corvane.Formats
{
    /// <summary>
    /// Encrypted files in the format of Corvane.Crypt's FileEnCrypt and FileDeCrypt: a 4-byte
    /// little-endian header holding the plaintext length L, then the plaintext zero-padded to
    /// whole 8-byte blocks, each block enciphered alone. Streams go through in chunks: memory
    /// stays bounded whatever the size.
    /// </summary>
    public static class CorvaneFile
    {
        public const int HeaderSize = 4;
        /// <summary>The suffix the DLL appends to the input path, for encryption and decryption alike.</summary>
        public const string Suffix = ".bf";
        private const int ChunkSize = 1 << 16;

        /// <summary>Encrypts the rest of <paramref name="plain"/> into <paramref name="encrypted"/>.</summary>
        public static void Encrypt(Stream plain, Stream encrypted, string key, int codePage = AnsiCodePage.Default)
        {
            if (plain == null) throw new ArgumentNullException(nameof(plain));
            if (encrypted == null) throw new ArgumentNullException(nameof(encrypted));
            byte[] keyBytes = CorvaneText.KeyBytes(key, codePage);
            using (var cipher = new Blowfish(keyBytes))
            {
                Array.Clear(keyBytes, 0, keyBytes.Length);
                if (plain.CanSeek)
                {
                    long expected = plain.Length - plain.Position;
                    WriteHeader(encrypted, expected);
                    if (EncryptChunks(cipher, plain, encrypted) != expected)
                        throw new CorvaneException(CorvaneStatus.CannotReadInput, "the input changed its length while it was read");
                    return;
                }
                // The length is known only at the end: the ciphertext waits in a temporary file.
                string temporary = Path.GetTempFileName();
                try
                {
                    long length;
                    using (var spool = new FileStream(temporary, FileMode.Create, FileAccess.ReadWrite, FileShare.None, ChunkSize, FileOptions.DeleteOnClose))
                    {
                        length = EncryptChunks(cipher, plain, spool);
                        spool.Position = 0;
                        WriteHeader(encrypted, length);
                        spool.CopyTo(encrypted, ChunkSize);
                    }
                }
                finally
                {
                    if (File.Exists(temporary)) File.Delete(temporary);
                }
            }
        }

        private static void WriteHeader(Stream output, long length)
        {
            if (length > uint.MaxValue)
                throw new CorvaneException(CorvaneStatus.CannotReadInput, "the input is too large for the format's 32-bit length");
            var header = BitConverter.GetBytes((uint)length);
            if (!BitConverter.IsLittleEndian) Array.Reverse(header);
            output.Write(header, 0, HeaderSize);
        }

        private static int ReadFull(Stream input, byte[] buffer, int count)
        {
            int got = 0;
            while (got < count)
            {
                int n = input.Read(buffer, got, count - got);
                if (n <= 0) break;
                got += n;
            }
            return got;
        }

        private static long EncryptChunks(Blowfish cipher, Stream input, Stream output)
        {
            var buffer = new byte[ChunkSize];
            long total = 0;
            try
            {
                for (;;)
                {
                    int got = ReadFull(input, buffer, ChunkSize);
                    if (got == 0) break;
                    total += got;
                    if (total > uint.MaxValue)
                        throw new CorvaneException(CorvaneStatus.CannotReadInput, "the input is too large for the format's 32-bit length");
                    int padded = (int)Blowfish.OutputLength(got);
                    Array.Clear(buffer, got, padded - got);
                    for (int o = 0; o < padded; o += Blowfish.BlockSize) cipher.EncryptBlock(buffer, o);
                    output.Write(buffer, 0, padded);
                    if (got < ChunkSize) break;
                }
            }
            finally
            {
                Array.Clear(buffer, 0, buffer.Length);
            }
            return total;
        }

        /// <summary>
        /// Decrypts an encrypted stream and writes exactly the length its header states. A stream
        /// shorter than its header states is status -202: a seekable one is refused before anything
        /// is written; from one that cannot seek, what came before the end has been written.
        /// A partial last block is completed with zero bytes and deciphered whole, as the DLL does.
        /// Returns the number of bytes written.
        /// </summary>
        public static long Decrypt(Stream encrypted, Stream plain, string key, int codePage = AnsiCodePage.Default)
        {
            if (encrypted == null) throw new ArgumentNullException(nameof(encrypted));
            if (plain == null) throw new ArgumentNullException(nameof(plain));
            byte[] keyBytes = CorvaneText.KeyBytes(key, codePage);
            var header = new byte[HeaderSize];
            if (ReadFull(encrypted, header, HeaderSize) < HeaderSize) throw Short();
            long length = header[0] | (long)header[1] << 8 | (long)header[2] << 16 | (long)header[3] << 24;
            if (encrypted.CanSeek && encrypted.Length - encrypted.Position < length) throw Short();
            using (var cipher = new Blowfish(keyBytes))
            {
                Array.Clear(keyBytes, 0, keyBytes.Length);
                var buffer = new byte[ChunkSize];
                long left = length;
                try
                {
                    while (left > 0)
                    {
                        int want = (int)Math.Min(ChunkSize, Blowfish.OutputLength(left));
                        int got = ReadFull(encrypted, buffer, want);
                        if (got < Math.Min(want, left)) throw Short();
                        int padded = (int)Blowfish.OutputLength(got);
                        Array.Clear(buffer, got, padded - got);
                        for (int o = 0; o < padded; o += Blowfish.BlockSize) cipher.DecryptBlock(buffer, o);
                        int use = (int)Math.Min(got, left);
                        plain.Write(buffer, 0, use);
                        left -= use;
                    }
                }
                finally
                {
                    Array.Clear(buffer, 0, buffer.Length);
                }
            }
            return length;
        }

        private static CorvaneException Short()
        {
            return new CorvaneException(CorvaneStatus.ShortFile, "the encrypted file is shorter than its header states");
        }

        /// <summary>FileEnCrypt: encrypts <paramref name="path"/> to <paramref name="path"/> + ".bf".</summary>
        public static void EncryptFile(string path, string key, int codePage = AnsiCodePage.Default)
        {
            EncryptFile(path, path + Suffix, key, codePage);
        }

        /// <summary>FileDeCrypt: decrypts <paramref name="path"/> to <paramref name="path"/> + ".bf" (the DLL's name).</summary>
        public static void DecryptFile(string path, string key, int codePage = AnsiCodePage.Default)
        {
            DecryptFile(path, path + Suffix, key, codePage);
        }

        /// <summary>Encrypts one file into another; the output appears only when complete.</summary>
        public static void EncryptFile(string input, string output, string key, int codePage = AnsiCodePage.Default)
        {
            CorvaneText.KeyBytes(key, codePage);
            using (var source = OpenInput(input))
                WriteComplete(output, target => Encrypt(source, target, key, codePage));
        }

        /// <summary>Decrypts one file into another; nothing is written when it fails (-202 included).</summary>
        public static void DecryptFile(string input, string output, string key, int codePage = AnsiCodePage.Default)
        {
            CorvaneText.KeyBytes(key, codePage);
            using (var source = OpenInput(input))
                WriteComplete(output, target => Decrypt(source, target, key, codePage));
        }

        private static FileStream OpenInput(string path)
        {
            try
            {
                return new FileStream(path, FileMode.Open, FileAccess.Read, FileShare.Read, ChunkSize);
            }
            catch (Exception e) when (e is IOException || e is UnauthorizedAccessException || e is ArgumentException || e is NotSupportedException)
            {
                throw new CorvaneException(CorvaneStatus.CannotOpenInput, "cannot open " + path + ": " + e.Message, e);
            }
        }

        private static void WriteComplete(string output, Action<Stream> write)
        {
            string full = Path.GetFullPath(output);
            string temporary = Path.Combine(Path.GetDirectoryName(full), "." + Path.GetFileName(full) + "." + Guid.NewGuid().ToString("N") + ".tmp");
            bool done = false;
            try
            {
                try
                {
                    using (var target = new FileStream(temporary, FileMode.CreateNew, FileAccess.Write, FileShare.None, ChunkSize))
                    {
                        write(target);
                        target.Flush(true);
                    }
                    if (File.Exists(full)) File.Replace(temporary, full, null);
                    else File.Move(temporary, full);
                    done = true;
                }
                catch (Exception e) when (e is IOException || e is UnauthorizedAccessException)
                {
                    throw new CorvaneException(CorvaneStatus.CannotWriteOutput, "cannot write " + output + ": " + e.Message, e);
                }
            }
            finally
            {
                if (!done && File.Exists(temporary)) File.Delete(temporary);
            }
        }
    }
}
