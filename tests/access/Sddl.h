// Descriptors in the string form Windows shows them in (SDDL), so that the
// tests name each case as a person would read it off a real file, and can
// set a real file's descriptor beside the model read from it.
#ifndef KESTRANE_TESTS_SDDL_H
#define KESTRANE_TESTS_SDDL_H

#include <optional>
#include <ostream>
#include <string_view>

#include "AccessDecision.h"

namespace kes::access {

// The owner (O:), group (G:) and access list (D:, with its flags P, AI, AR
// or NO_ACCESS_CONTROL for a null list) of a descriptor string. An entry is
// "(type;flags;rights;;;sid)": types A, D, and OA, OD, XA, XD, ZA read as
// other; flags OI, CI, NP, IO, ID; rights as 0x hex or the letter pairs
// FA, FR, FW, FX, GA, GR, GW, GX; SIDs as "S-1-..." or the aliases AN, AU,
// BA, BU, CO, OW, SY, WD. Nothing for anything else, so that a mistyped
// case fails instead of testing something else.
std::optional<Descriptor> ParseSddl(std::string_view text);

// For the tests' comparisons and their failure messages.
bool operator==(const Ace& a, const Ace& b);
bool operator==(const Descriptor& a, const Descriptor& b);
void PrintTo(const Descriptor& descriptor, std::ostream* out);

}  // namespace kes::access

#endif
