using System;

namespace Corvane.Formats
{
    /// <summary>The status numbers Corvane.dll's IsError reports, for the failures this library shares with it.</summary>
    public static class CorvaneStatus
    {
        public const int Ok = 0;
        /// <summary>A character the code page cannot hold, or bytes that are not text in it.</summary>
        public const int NotInCodePage = -102;
        /// <summary>An input file cannot be opened.</summary>
        public const int CannotOpenInput = -104;
        /// <summary>An input file cannot be read, or is too large for the format.</summary>
        public const int CannotReadInput = -105;
        /// <summary>An output file cannot be written.</summary>
        public const int CannotWriteOutput = -106;
        /// <summary>Malformed Base64 text.</summary>
        public const int BadBase64 = -107;
        /// <summary>No key, an empty key, or a key the code page cannot hold.</summary>
        public const int NoKey = -200;
        /// <summary>An encrypted file whose ciphertext is shorter than its header states.</summary>
        public const int ShortFile = -202;
    }

    /// <summary>A failure, with the status number Corvane.dll reports for it.</summary>
    [Serializable]
    public class CorvaneException : Exception
    {
        public int Status { get; }

        public CorvaneException(int status, string message, Exception inner = null)
            : base("Corvane status " + status + ": " + message, inner)
        {
            Status = status;
        }
    }
}
