// Where the key comes from: --key-file, --key (with a warning), CORVANE_KEY, or a
// prompt without echo on the terminal; in that order.
#pragma once

#include "cli/options.h"
#include "cli/text_codec.h"
#include "common/secure_buffer.h"

namespace corvane::cli {

// The key's bytes in the text encoding, up to the first zero byte, as the component
// keys its engine. Returns kExitOk, or reports the problem and returns its exit code.
// confirm: a prompted key is asked for twice.
int AcquireKey(Options& options, TextCodec& codec, bool confirm, SecureBytes* key);

}  // namespace corvane::cli
