// Moving Corvane data to AES-256-GCM for good: decrypt each record with Corvane.Formats,
// encrypt it with the platform's AesGcm (.NET Core 3.0 and later), and keep nonce, tag and
// ciphertext together. Blowfish in ECB without a check cannot tell a wrong key or a changed
// record; GCM refuses both.
using System;
using System.Security.Cryptography;
using System.Text;
using Corvane.Formats;

static class MigrateToAesGcm
{
    // One stored record: 12-byte nonce, 16-byte tag, ciphertext.
    static byte[] Seal(byte[] key, string text)
    {
        byte[] plain = Encoding.UTF8.GetBytes(text);
        var record = new byte[12 + 16 + plain.Length];
        var nonce = new byte[12];
        using (var rng = RandomNumberGenerator.Create()) rng.GetBytes(nonce);
        var tag = new byte[16];
        var cipher = new byte[plain.Length];
        using (var gcm = new AesGcm(key)) gcm.Encrypt(nonce, plain, cipher, tag);
        Buffer.BlockCopy(nonce, 0, record, 0, 12);
        Buffer.BlockCopy(tag, 0, record, 12, 16);
        Buffer.BlockCopy(cipher, 0, record, 28, cipher.Length);
        return record;
    }

    static string Open(byte[] key, byte[] record)
    {
        var nonce = new byte[12];
        var tag = new byte[16];
        var cipher = new byte[record.Length - 28];
        Buffer.BlockCopy(record, 0, nonce, 0, 12);
        Buffer.BlockCopy(record, 12, tag, 0, 16);
        Buffer.BlockCopy(record, 28, cipher, 0, cipher.Length);
        var plain = new byte[cipher.Length];
        using (var gcm = new AesGcm(key)) gcm.Decrypt(nonce, cipher, tag, plain);  // throws if changed
        return Encoding.UTF8.GetString(plain);
    }

    static void Main()
    {
        // Records as the DLL stored them (enCrypt, key "TESTKEY", code page 1252).
        string[] stored = { "BabcR7BJSc/uwpdNtHZBAg==", "/7JNABrpLhY=" };
        // The new key: 32 random bytes, kept in a key store, never beside the data.
        var newKey = new byte[32];
        using (var rng = RandomNumberGenerator.Create()) rng.GetBytes(newKey);

        foreach (string old in stored)
        {
            string text = CorvaneText.Decrypt(old, "TESTKEY", 1252);
            byte[] record = Seal(newKey, text);
            Console.WriteLine(Convert.ToBase64String(record).Length + " characters: " + (Open(newKey, record) == text));
        }

        // A changed record no longer passes as data.
        byte[] tampered = Seal(newKey, "sixteen bytes!!!");
        tampered[30] ^= 1;
        try
        {
            Open(newKey, tampered);
        }
        catch (CryptographicException)
        {
            Console.WriteLine("changed record refused");
        }
    }
}
