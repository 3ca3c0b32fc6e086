// Reading and writing Corvane's two stored forms from .NET with Corvane.Formats.
using System;
using System.IO;
using System.Text;
using Corvane.Formats;

static class ReadWrite
{
    static void Main()
    {
        // A Base64 text from enCrypt (here one the DLL made with the key "TESTKEY").
        string stored = "BabcR7BJSc/uwpdNtHZBAg==";
        Console.WriteLine(CorvaneText.Decrypt(stored, "TESTKEY"));

        // Writing one that deCrypt reads: code page 1252 unless you name another.
        string cipher = CorvaneText.Encrypt("caf\u00e9 \u20ac5", "TESTKEY");
        Console.WriteLine(cipher);
        Console.WriteLine(CorvaneText.Decrypt(cipher, "TESTKEY") == "caf\u00e9 \u20ac5");

        // Japanese text as the DLL on a Japanese Windows (code page 932) stores it.
        string japanese = CorvaneText.Encrypt("\u65e5\u672c\u8a9e", "\u9375", 932);
        Console.WriteLine(CorvaneText.Decrypt(japanese, "\u9375", 932) == "\u65e5\u672c\u8a9e");

        // A character the code page cannot hold fails as in the DLL, with its status.
        try
        {
            CorvaneText.Encrypt("\u0101", "TESTKEY");
        }
        catch (CorvaneException e)
        {
            Console.WriteLine(e.Status);
        }

        // Files: FileEnCrypt writes report.txt.bf; FileDeCrypt of that writes report.txt.bf.bf.
        File.WriteAllText("report.txt", "quarterly figures", Encoding.ASCII);
        CorvaneFile.EncryptFile("report.txt", "TESTKEY");
        Console.WriteLine(new FileInfo("report.txt.bf").Length);
        CorvaneFile.DecryptFile("report.txt.bf", "TESTKEY");
        Console.WriteLine(File.ReadAllText("report.txt.bf.bf"));

        // Streams of any size go through in chunks; choose the output name yourself.
        using (var plain = File.OpenRead("report.txt"))
        using (var encrypted = File.Create("copy.bf"))
            CorvaneFile.Encrypt(plain, encrypted, "TESTKEY");
        using (var encrypted = File.OpenRead("copy.bf"))
        using (var plain = new MemoryStream())
        {
            CorvaneFile.Decrypt(encrypted, plain, "TESTKEY");
            Console.WriteLine(Encoding.ASCII.GetString(plain.ToArray()));
        }
    }
}
