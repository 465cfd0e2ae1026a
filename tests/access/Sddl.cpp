#include "Sddl.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace kes::access {
namespace {

template <typename Value>
using Table = std::vector<std::pair<std::string_view, Value>>;

const Table<std::string_view> kSidAliases = {
    {"AN", "S-1-5-7"},      {"AU", "S-1-5-11"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
    {"CO", "S-1-3-0"},      {"OW", "S-1-3-4"},  {"SY", "S-1-5-18"},     {"WD", "S-1-1-0"},
};
const Table<uint32_t> kRights = {
    {"FA", 0x1F01FF},   {"FR", 0x120089},   {"FW", 0x120116},   {"FX", 0x1200A0},
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000},
};
const Table<uint8_t> kAceFlags = {{"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08}, {"ID", 0x10}};
const Table<AceKind> kAceTypes = {{"A", AceKind::kAllow}, {"D", AceKind::kDeny},  {"OA", AceKind::kOther},
                                  {"OD", AceKind::kOther}, {"XA", AceKind::kOther}, {"XD", AceKind::kOther},
                                  {"ZA", AceKind::kOther}};

template <typename Value>
std::optional<Value> Look(const Table<Value>& table, std::string_view key) {
    for (const auto& [name, value] : table) {
        if (name == key) return value;
    }
    return std::nullopt;
}

// A run of two-letter codes from the table, OR-ed together: "OICI", "GRGX".
template <typename Value>
std::optional<Value> Codes(const Table<Value>& table, std::string_view text) {
    Value all{};
    for (; !text.empty(); text.remove_prefix(2)) {
        const std::optional<Value> one = text.size() >= 2 ? Look(table, text.substr(0, 2)) : std::nullopt;
        if (!one) return std::nullopt;
        all |= *one;
    }
    return all;
}

std::optional<uint32_t> Rights(std::string_view text) {
    if (text.substr(0, 2) != "0x") return Codes(kRights, text);
    const std::string digits(text.substr(2));
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 16);
    if (digits.empty() || *end != '\0') return std::nullopt;
    return static_cast<uint32_t>(value);
}

// The SID at the start of `text`, which it leaves after it.
std::optional<std::string> TakeSid(std::string_view& text) {
    if (text.substr(0, 2) == "S-") {
        size_t end = 2;
        while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '-')) ++end;
        const std::string sid(text.substr(0, end));
        text.remove_prefix(end);
        return sid;
    }
    const std::optional<std::string_view> alias = Look(kSidAliases, text.substr(0, 2));
    if (!alias) return std::nullopt;
    text.remove_prefix(2);
    return std::string(*alias);
}

std::optional<Ace> ParseAce(std::string_view text) {
    std::vector<std::string_view> fields;
    for (size_t semicolon; (semicolon = text.find(';')) != std::string_view::npos;) {
        fields.push_back(text.substr(0, semicolon));
        text.remove_prefix(semicolon + 1);
    }
    fields.push_back(text);
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) return std::nullopt;
    const std::optional<AceKind> kind = Look(kAceTypes, fields[0]);
    const std::optional<uint8_t> flags = Codes(kAceFlags, fields[1]);
    const std::optional<uint32_t> mask = Rights(fields[2]);
    std::optional<std::string> sid = TakeSid(fields[5]);
    if (!kind || !flags || !mask || !sid || !fields[5].empty()) return std::nullopt;
    return Ace{*kind, *flags, *mask, std::move(*sid)};
}

// The list after "D:": its flags, then its entries.
bool ParseDacl(std::string_view& text, Descriptor& out) {
    out.hasDacl = true;
    for (bool more = true; more;) {
        more = false;
        for (std::string_view flag : {"NO_ACCESS_CONTROL", "P", "AI", "AR"}) {
            if (text.substr(0, flag.size()) != flag) continue;
            text.remove_prefix(flag.size());
            out.hasDacl = out.hasDacl && flag != "NO_ACCESS_CONTROL";
            more = true;
        }
    }
    while (!text.empty() && text.front() == '(') {
        const size_t close = text.find(')');
        if (close == std::string_view::npos || !out.hasDacl) return false;
        std::optional<Ace> ace = ParseAce(text.substr(1, close - 1));
        if (!ace) return false;
        out.dacl.push_back(std::move(*ace));
        text.remove_prefix(close + 1);
    }
    return true;
}

}  // namespace

std::optional<Descriptor> ParseSddl(std::string_view text) {
    Descriptor out;
    while (!text.empty()) {
        if (text.size() < 2 || text[1] != ':') return std::nullopt;
        const char part = text[0];
        text.remove_prefix(2);
        if (part == 'O' || part == 'G') {
            std::optional<std::string> sid = TakeSid(text);
            if (!sid) return std::nullopt;
            (part == 'O' ? out.owner : out.group) = std::move(*sid);
        } else if (part != 'D' || !ParseDacl(text, out)) {
            return std::nullopt;
        }
    }
    return out;
}

bool operator==(const Ace& a, const Ace& b) {
    return a.kind == b.kind && a.flags == b.flags && a.mask == b.mask && a.sid == b.sid;
}

bool operator==(const Descriptor& a, const Descriptor& b) {
    return a.owner == b.owner && a.group == b.group && a.hasDacl == b.hasDacl && a.dacl == b.dacl;
}

void PrintTo(const Descriptor& descriptor, std::ostream* out) {
    *out << "O:" << descriptor.owner << " G:" << descriptor.group << " D:" << (descriptor.hasDacl ? "" : "null");
    for (const Ace& ace : descriptor.dacl) {
        *out << " (" << static_cast<int>(ace.kind) << ";0x" << std::hex << int{ace.flags} << ";0x" << ace.mask
             << std::dec << ";" << ace.sid << ")";
    }
}

}  // namespace kes::access
