using System;
using System.Collections.Generic;
using System.IO;
using System.Json;
using System.Linq;
using System.Security.Cryptography;
using System.Text;
using Corvane.Formats;
using NUnit.Framework;

namespace Corvane.Formats.Tests
{
    /// <summary>
    /// The conformance vectors made from Corvane.dll: the files CORVANE_VECTORS names
    /// (':'-separated) or else the tree's conformance/vectors.json and code page tables.
    /// </summary>
    internal static class Vectors
    {
        internal static readonly string Root = Environment.GetEnvironmentVariable("CORVANE_SOURCE_DIR") ?? ".";

        internal static IEnumerable<JsonObject> Files()
        {
            string named = Environment.GetEnvironmentVariable("CORVANE_VECTORS");
            IEnumerable<string> paths = !string.IsNullOrEmpty(named)
                ? named.Split(':').Where(p => p.Length > 0)
                : new[] { "vectors.json", "code-pages.json", "code-page-1252.json", "code-page-932.json", "code-page-936.json" }
                    .Select(n => Path.Combine(Root, "conformance", n));
            foreach (var path in paths)
                using (var reader = new StreamReader(path, Encoding.UTF8))
                    yield return (JsonObject)JsonValue.Load(reader);
        }

        private static List<JsonObject> loaded;

        internal static IEnumerable<JsonObject> Rows(string name)
        {
            if (loaded == null) loaded = Files().ToList();
            foreach (var file in loaded)
                if (file.ContainsKey(name))
                    foreach (JsonObject row in (JsonArray)file[name]) yield return row;
        }

        internal static IEnumerable<JsonObject> Tables()
        {
            if (loaded == null) loaded = Files().ToList();
            return loaded.Where(f => f.ContainsKey("codePage") && f.ContainsKey("decode") && f.ContainsKey("encode"));
        }

        internal static string Str(JsonValue v) { return v == null ? null : (string)v; }

        internal static byte[] Hex(string hex)
        {
            var bytes = new byte[hex.Length / 2];
            for (int i = 0; i < bytes.Length; i++) bytes[i] = Convert.ToByte(hex.Substring(2 * i, 2), 16);
            return bytes;
        }

        internal static string Hex(byte[] bytes)
        {
            return BitConverter.ToString(bytes).Replace("-", "").ToLowerInvariant();
        }

        internal static string Show(string s)
        {
            return s == null ? "null" : "\"" + string.Concat(s.Select(c => c < 0x20 || c > 0x7E ? "\\u" + ((int)c).ToString("x4") : c.ToString())) + "\"";
        }
    }

    /// <summary>A stream that hides its length, as a pipe does.</summary>
    internal sealed class PipeStream : Stream
    {
        private readonly Stream inner;
        public PipeStream(Stream inner) { this.inner = inner; }
        public override bool CanRead { get { return inner.CanRead; } }
        public override bool CanSeek { get { return false; } }
        public override bool CanWrite { get { return inner.CanWrite; } }
        public override long Length { get { throw new NotSupportedException(); } }
        public override long Position { get { throw new NotSupportedException(); } set { throw new NotSupportedException(); } }
        public override void Flush() { inner.Flush(); }
        // Short reads, as pipes give them.
        public override int Read(byte[] b, int o, int n) { return inner.Read(b, o, Math.Min(n, 1000)); }
        public override long Seek(long o, SeekOrigin s) { throw new NotSupportedException(); }
        public override void SetLength(long v) { throw new NotSupportedException(); }
        public override void Write(byte[] b, int o, int n) { inner.Write(b, o, n); }
    }

    [TestFixture]
    public class TextVectorTests
    {
        [Test]
        public void EveryTextCaseEncryptsAsTheDll()
        {
            var failures = new List<string>();
            int n = 0;
            foreach (var c in Vectors.Rows("textCases"))
            {
                n++;
                string key = Vectors.Str(c["key"]), text = Vectors.Str(c["text"]), expected = Vectors.Str(c["base64"]);
                int codePage = (int)c["codePage"], status = (int)c["status"];
                string got = null;
                int gotStatus = 0;
                try { got = CorvaneText.Encrypt(text, key, codePage); }
                catch (CorvaneException e) { gotStatus = e.Status; }
                if (got != expected || gotStatus != status)
                    failures.Add($"cp {codePage} key {Vectors.Show(key)} text {Vectors.Show(text)}: {gotStatus} {got}, DLL {status} {expected}");
            }
            Assert.That(n, Is.GreaterThan(0), "no text cases");
            Assert.That(failures, Is.Empty, string.Join("\n", failures.Take(20)));
        }

        [Test]
        public void EveryDecryptCaseDecryptsAsTheDll()
        {
            var failures = new List<string>();
            int n = 0;
            foreach (var c in Vectors.Rows("decryptCases"))
            {
                n++;
                string key = Vectors.Str(c["key"]), input = Vectors.Str(c["base64"]), expected = Vectors.Str(c["text"]);
                int codePage = (int)c["codePage"], status = (int)c["status"];
                string got = null;
                int gotStatus = 0;
                try { got = CorvaneText.Decrypt(input, key, codePage); }
                catch (CorvaneException e) { gotStatus = e.Status; }
                if (got != expected || gotStatus != status)
                    failures.Add($"cp {codePage} {Vectors.Str(c["what"])} {Vectors.Show(input)}: {gotStatus} {Vectors.Show(got)}, DLL {status} {Vectors.Show(expected)}");
            }
            Assert.That(n, Is.GreaterThan(0), "no decrypt cases");
            Assert.That(failures, Is.Empty, string.Join("\n", failures.Take(20)));
        }
    }

    [TestFixture]
    public class FileVectorTests
    {
        private string folder;

        [SetUp]
        public void MakeFolder()
        {
            folder = Path.Combine(Path.GetTempPath(), "corvane-dotnet-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(folder);
        }

        [TearDown]
        public void RemoveFolder()
        {
            Directory.Delete(folder, true);
        }

        [Test]
        public void EveryFileCaseEncryptsAndDecryptsAsTheDll([Values(false, true)] bool pipes)
        {
            int n = 0;
            foreach (var c in Vectors.Rows("fileCases"))
            {
                n++;
                string key = Vectors.Str(c["key"]);
                int codePage = (int)c["codePage"];
                byte[] plain = Vectors.Hex(Vectors.Str(c["plainHex"])), bf = Vectors.Hex(Vectors.Str(c["bfHex"]));
                var encrypted = new MemoryStream();
                Stream source = new MemoryStream(plain);
                CorvaneFile.Encrypt(pipes ? new PipeStream(source) : source, encrypted, key, codePage);
                Assert.That(Vectors.Hex(encrypted.ToArray()), Is.EqualTo(Vectors.Hex(bf)), $"encrypting {plain.Length} bytes");
                var decrypted = new MemoryStream();
                source = new MemoryStream(bf);
                CorvaneFile.Decrypt(pipes ? new PipeStream(source) : source, decrypted, key, codePage);
                Assert.That(Vectors.Hex(decrypted.ToArray()), Is.EqualTo(Vectors.Hex(plain)), $"decrypting {plain.Length} bytes");
            }
            Assert.That(n, Is.GreaterThan(0), "no file cases");
        }

        private static byte[] Seeded(uint seed, int length)
        {
            var bytes = new byte[length];
            uint state = seed;
            for (int i = 0; i < length; i++)
            {
                state = unchecked(state * 1103515245u + 12345u);
                bytes[i] = (byte)(state >> 24);
            }
            return bytes;
        }

        [Test]
        public void LargeFilesThroughFilesAndPipes()
        {
            int n = 0;
            foreach (var c in Vectors.Rows("largeFileCases"))
            {
                n++;
                string key = Vectors.Str(c["key"]);
                int codePage = (int)c["codePage"];
                byte[] plain = Seeded((uint)(long)c["seed"], (int)c["length"]);
                string path = Path.Combine(folder, "large" + n);
                File.WriteAllBytes(path, plain);
                CorvaneFile.EncryptFile(path, key, codePage);
                byte[] bf = File.ReadAllBytes(path + ".bf");
                Assert.That(bf.Length, Is.EqualTo((int)c["bfLength"]));
                using (var sha = SHA256.Create())
                    Assert.That(Vectors.Hex(sha.ComputeHash(bf)), Is.EqualTo(Vectors.Str(c["bfSha256"])));
                var piped = new MemoryStream();
                CorvaneFile.Encrypt(new PipeStream(new MemoryStream(plain)), piped, key, codePage);
                Assert.That(piped.ToArray(), Is.EqualTo(bf), "through a pipe");
                CorvaneFile.DecryptFile(path + ".bf", key, codePage);
                Assert.That(File.ReadAllBytes(path + ".bf.bf"), Is.EqualTo(plain));
            }
            Assert.That(n, Is.GreaterThan(0), "no large file cases");
        }

        [Test]
        public void EveryBfCaseDecryptsAsTheDll([Values(false, true)] bool pipe)
        {
            int n = 0;
            foreach (var c in Vectors.Rows("bfCases"))
            {
                n++;
                string what = Vectors.Str(c["what"]), key = Vectors.Str(c["key"]);
                int codePage = (int)c["codePage"], status = (int)c["status"];
                byte[] bf = Vectors.Hex(Vectors.Str(c["bfHex"]));
                string expected = Vectors.Str(c["plainHex"]);
                if (!pipe)
                {
                    string path = Path.Combine(folder, "case" + n + ".bf");
                    File.WriteAllBytes(path, bf);
                    int got = 0;
                    try { CorvaneFile.DecryptFile(path, key, codePage); }
                    catch (CorvaneException e) { got = e.Status; }
                    Assert.That(got, Is.EqualTo(status), what);
                    if (expected == null)
                        Assert.That(File.Exists(path + ".bf"), Is.False, what + ": nothing may be written");
                    else
                        Assert.That(Vectors.Hex(File.ReadAllBytes(path + ".bf")), Is.EqualTo(expected), what);
                    continue;
                }
                // From a stream that cannot seek, a short file is found at its end.
                var output = new MemoryStream();
                int piped = 0;
                try { CorvaneFile.Decrypt(new PipeStream(new MemoryStream(bf)), output, key, codePage); }
                catch (CorvaneException e) { piped = e.Status; }
                Assert.That(piped, Is.EqualTo(status), what + " (a pipe)");
                if (expected != null) Assert.That(Vectors.Hex(output.ToArray()), Is.EqualTo(expected), what + " (a pipe)");
            }
            Assert.That(n, Is.GreaterThan(0), "no .bf cases");
        }
    }

    [TestFixture]
    public class CodePageTableTests
    {
        private static IEnumerable<int> Leads(JsonObject table)
        {
            foreach (JsonValue r in (JsonArray)table["leadBytes"])
            {
                string[] ends = ((string)r).Split('-');
                int a = Convert.ToInt32(ends[0], 16), b = Convert.ToInt32(ends[ends.Length - 1], 16);
                for (int x = a; x <= b; x++) yield return x;
            }
        }

        [Test]
        public void EveryByteSequenceDecodesAsWindows()
        {
            int tables = 0;
            foreach (var table in Vectors.Tables())
            {
                tables++;
                int codePage = (int)table["codePage"];
                var windows = new Dictionary<string, int>();
                foreach (JsonArray row in (JsonArray)table["decode"]) windows[(string)row[0]] = (int)row[1];
                var leads = new HashSet<int>(Leads(table));
                var sequences = Enumerable.Range(1, 255).Select(b => new[] { (byte)b })
                    .Concat(leads.SelectMany(l => Enumerable.Range(1, 255).Select(t => new[] { (byte)l, (byte)t })));
                var failures = new List<string>();
                foreach (var bytes in sequences)
                {
                    string hex = Vectors.Hex(bytes).ToUpperInvariant();
                    int expected;
                    string want = windows.TryGetValue(hex, out expected) ? ((char)expected).ToString() : null;
                    string got = null;
                    try { got = AnsiCodePage.GetString(bytes, codePage); }
                    catch (CorvaneException e) { Assert.That(e.Status, Is.EqualTo(CorvaneStatus.NotInCodePage)); }
                    if (got != want) failures.Add($"{codePage} {hex}: {Vectors.Show(got)}, Windows {Vectors.Show(want)}");
                }
                Assert.That(failures, Is.Empty, string.Join("\n", failures.Take(20)));
            }
            Assert.That(tables, Is.GreaterThan(0), "no code page tables");
        }

        [Test]
        public void EveryCharacterEncodesAsWindows()
        {
            int tables = 0;
            foreach (var table in Vectors.Tables())
            {
                tables++;
                int codePage = (int)table["codePage"];
                var windows = new Dictionary<int, string>();
                foreach (JsonArray row in (JsonArray)table["encode"]) windows[(int)row[0]] = (string)row[1];
                var failures = new List<string>();
                for (int c = 1; c < 0x10000; c++)
                {
                    if (c >= 0xD800 && c <= 0xDFFF) continue;
                    string want;
                    windows.TryGetValue(c, out want);
                    string got = null;
                    try { got = Vectors.Hex(AnsiCodePage.GetBytes(((char)c).ToString(), codePage)).ToUpperInvariant(); }
                    catch (CorvaneException e) { Assert.That(e.Status, Is.EqualTo(CorvaneStatus.NotInCodePage)); }
                    if (got != want) failures.Add($"{codePage} U+{c:X4}: {got ?? "refused"}, Windows {want ?? "refused"}");
                }
                Assert.That(failures, Is.Empty, string.Join("\n", failures.Take(20)));
            }
            Assert.That(tables, Is.GreaterThan(0), "no code page tables");
        }

        // Code pages without tables of their own come from the platform, still strictly: a
        // character held only by a best fit (u for ü in Cyrillic 1251) is refused as Windows does.
        [Test]
        public void OtherCodePagesConvertStrictly()
        {
            const string russian = "\u041f\u0440\u0438\u0432\u0435\u0442";
            Assert.That(Vectors.Hex(AnsiCodePage.GetBytes(russian, 1251)), Is.EqualTo("cff0e8e2e5f2"));
            Assert.That(CorvaneText.Decrypt(CorvaneText.Encrypt(russian, "k", 1251), "k", 1251), Is.EqualTo(russian));
            foreach (var lacking in new[] { "\u00fc", "\u4e2d", "\uff21" })
                Assert.That(Assert.Throws<CorvaneException>(() => AnsiCodePage.GetBytes(lacking, 1251)).Status, Is.EqualTo(-102), lacking);
        }

        [Test]
        public void CharactersBeyondTheBmpAreRefused([Values(1252, 932, 936)] int codePage)
        {
            var e = Assert.Throws<CorvaneException>(() => AnsiCodePage.GetBytes("a\U0001F600b", codePage));
            Assert.That(e.Status, Is.EqualTo(-102));
            StringAssert.Contains("-102", e.Message);
        }
    }

    [TestFixture]
    public class CipherTests
    {
        [Test]
        public void ZeroKeyAndZeroBlockGiveThePublishedVectorWithItsHalvesReversed()
        {
            using (var cipher = new Blowfish(new byte[8]))
            {
                var block = new byte[8];
                cipher.EncryptBlock(block, 0);
                Assert.That(Vectors.Hex(block), Is.EqualTo("4597f94e78dd9861"));
                cipher.DecryptBlock(block, 0);
                Assert.That(block, Is.EqualTo(new byte[8]));
            }
        }

        [Test]
        public void EncodePadsWithZerosAndEqualBlocksGiveEqualCiphertext()
        {
            using (var cipher = new Blowfish(Encoding.ASCII.GetBytes("TESTKEY")))
            {
                byte[] twice = cipher.Encode(Encoding.ASCII.GetBytes("abcdefghabcdefghX"), 0, 17);
                Assert.That(twice.Length, Is.EqualTo(24));
                Assert.That(twice.Take(8), Is.EqualTo(twice.Skip(8).Take(8)));
                byte[] back = cipher.Decode(twice, 0, twice.Length);
                Assert.That(Encoding.ASCII.GetString(back, 0, 17), Is.EqualTo("abcdefghabcdefghX"));
                Assert.That(back.Skip(17), Is.All.EqualTo((byte)0));
            }
        }

        [Test]
        public void KeysActAsTheirFirst72Bytes()
        {
            var key = Enumerable.Range(1, 80).Select(i => (byte)i).ToArray();
            using (var a = new Blowfish(key))
            using (var b = new Blowfish(key.Take(72).ToArray()))
                Assert.That(a.Encode(new byte[8], 0, 8), Is.EqualTo(b.Encode(new byte[8], 0, 8)));
        }

        [Test]
        public void AFailedFileDecryptionLeavesNoFile()
        {
            string folder = Path.Combine(Path.GetTempPath(), "corvane-dotnet-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(folder);
            try
            {
                string path = Path.Combine(folder, "short.bf");
                File.WriteAllBytes(path, new byte[] { 9, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8 });
                Assert.That(Assert.Throws<CorvaneException>(() => CorvaneFile.DecryptFile(path, "k")).Status, Is.EqualTo(-202));
                Assert.That(Directory.GetFiles(folder), Is.EqualTo(new[] { path }), "no output, no temporary file");
                // A file already at the output is kept as it was.
                File.WriteAllText(path + ".bf", "keep");
                Assert.Throws<CorvaneException>(() => CorvaneFile.DecryptFile(path, "k"));
                Assert.That(File.ReadAllText(path + ".bf"), Is.EqualTo("keep"));
            }
            finally
            {
                Directory.Delete(folder, true);
            }
        }

        /// <summary>A seekable input that states a length but holds no bytes: no gigabytes are needed.</summary>
        private sealed class StatedLengthStream : Stream
        {
            private readonly long length;
            public StatedLengthStream(long length) { this.length = length; }
            public override bool CanRead { get { return true; } }
            public override bool CanSeek { get { return true; } }
            public override bool CanWrite { get { return false; } }
            public override long Length { get { return length; } }
            public override long Position { get { return 0; } set { throw new NotSupportedException(); } }
            public override void Flush() { }
            public override int Read(byte[] b, int o, int n) { return 0; }
            public override long Seek(long o, SeekOrigin s) { throw new NotSupportedException(); }
            public override void SetLength(long v) { throw new NotSupportedException(); }
            public override void Write(byte[] b, int o, int n) { throw new NotSupportedException(); }
        }

        // An accepted length has its header written before the empty input falls short of it
        // (-105); 4 GiB and more is refused (-105) before anything is written.
        [TestCase(0x80000000L, "00000080")]
        [TestCase(0xFFFFFFFFL, "ffffffff")]
        [TestCase(0x100000000L, "")]
        [TestCase(0x100000007L, "")]
        public void PlaintextLengthsUpTo4GiBMinus1FitTheHeader(long length, string header)
        {
            var encrypted = new MemoryStream();
            var failure = Assert.Throws<CorvaneException>(() => CorvaneFile.Encrypt(new StatedLengthStream(length), encrypted, "k"));
            Assert.That(failure.Status, Is.EqualTo(-105));
            Assert.That(Vectors.Hex(encrypted.ToArray()), Is.EqualTo(header));
        }

        // A stated length of 2 GiB or more is unsigned: read as a signed int it would be negative
        // and the short body would pass as a complete file.
        [TestCase("ffffffff", 8)]
        [TestCase("00000080", 16)]
        [TestCase("08000080", 24)]
        public void StatedLengthsAbove2GiBAreUnsigned(string header, int body)
        {
            byte[] bf = Vectors.Hex(header).Concat(new byte[body]).ToArray();
            var output = new MemoryStream();
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneFile.Decrypt(new MemoryStream(bf), output, "k")).Status, Is.EqualTo(-202));
            Assert.That(output.Length, Is.EqualTo(0), "a seekable input is measured first");
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneFile.Decrypt(new PipeStream(new MemoryStream(bf)), output, "k")).Status, Is.EqualTo(-202));
        }

        [Test]
        public void AFileOf4GiBIsRefusedBeforeItIsRead()
        {
            string folder = Path.Combine(Path.GetTempPath(), "corvane-dotnet-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(folder);
            try
            {
                string path = Path.Combine(folder, "huge");
                using (var file = new FileStream(path, FileMode.CreateNew)) file.SetLength(0x100000000L); // sparse
                Assert.That(Assert.Throws<CorvaneException>(() => CorvaneFile.EncryptFile(path, "k")).Status, Is.EqualTo(-105));
                Assert.That(Directory.GetFiles(folder), Is.EqualTo(new[] { path }), "no output, no temporary file");
            }
            finally
            {
                Directory.Delete(folder, true);
            }
        }

        [Test]
        public void FailuresCarryTheDllsStatus()
        {
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneText.Encrypt("x", "")).Status, Is.EqualTo(-200));
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneText.Encrypt("x", null)).Status, Is.EqualTo(-200));
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneText.Encrypt("x\u0101", "k")).Status, Is.EqualTo(-102));
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneText.Decrypt("QQ", "k")).Status, Is.EqualTo(-107));
            Assert.That(Assert.Throws<CorvaneException>(() => CorvaneFile.DecryptFile("/nonexistent/x.bf", "k")).Status, Is.EqualTo(-104));
        }
    }
}

namespace Corvane.Formats.Tests
{
    [TestFixture]
    public class AesGcmStandInTests
    {
        // NIST's GCM test case 14: AES-256, zero key, zero nonce, one zero block.
        [Test]
        public void GivesTheNistAnswer()
        {
            var cipher = new byte[16];
            var tag = new byte[16];
            using (var gcm = new System.Security.Cryptography.AesGcm(new byte[32]))
                gcm.Encrypt(new byte[12], new byte[16], cipher, tag);
            Assert.That(Vectors.Hex(cipher), Is.EqualTo("cea7403d4d606b6e074ec5d3baf39d18"));
            Assert.That(Vectors.Hex(tag), Is.EqualTo("d0d1c8a799996bf0265b98b5d48ab919"));
        }
    }
}
