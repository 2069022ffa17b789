// Redaction of a trace: the data bytes of card answers are replaced by a
// fixed filler (text with spaces, numbers with zero digits, photos and
// fingerprints with zero bytes) while lengths, framing, status words and
// the ID module's frame checksum stay valid. A value that the program later
// sends back to a card (a certificate number to the PSAM, say) is replaced
// in those commands too. What the program computes from such a value (a
// region code cut from it, a diversified key) cannot be found and blanked
// alike: every command with data after the first blanked value is marked
// "holder_data", and a replay matches a marked command by its first five
// bytes (class, instruction, parameters, length) and its length.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hwtrace {

using Bytes = std::vector<uint8_t>;

// Values replaced so far, each with its replacement (same length).
using Substitutions = std::vector<std::pair<Bytes, Bytes>>;

// Redacts one answer (data and status word) to `cause`, the command that
// asked for it (for an answer fetched with GET RESPONSE: the command before
// it), from unit `nad` (0x12-0x19 card slots, 0x1A stripe, 0x1B ID module).
void redactAnswer(uint8_t nad, const Bytes& cause, Bytes& answer, Substitutions& subs);
// The resident-ID-card text (UCS-2): every field blank but the sex and
// nation codes and the card-type byte.
void redactIdText(uint8_t* text, size_t n);
// Replaces every recorded value (also written out in hex) in a command;
// true when something was replaced.
bool substitute(Bytes& cmd, const Substitutions& subs);

// A whole trace text; false with `err` naming the first line that is no JSON
// object. The header gains "redacted":true.
bool redactTrace(const std::string& in, std::string& out, std::string& err);

}  // namespace hwtrace
