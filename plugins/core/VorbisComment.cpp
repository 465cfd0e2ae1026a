#include "VorbisComment.h"

#include <cctype>
#include <limits>

namespace kes {
namespace {

constexpr std::string_view kName = "COMMENT=";

bool IsComment(std::string_view field) {
    if (field.size() < kName.size()) return false;
    for (size_t i = 0; i < kName.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(field[i])) != kName[i]) return false;
    return true;
}

void PutString(std::string& out, std::string_view s) {
    PutLe32(out, s.size());
    out.append(s);
}

}  // namespace

std::optional<VorbisFields> ParseVorbisFields(std::string_view body) {
    VorbisFields parsed;
    size_t at = 0;
    const auto next = [&]() -> std::optional<std::string_view> {
        if (body.size() - at < 4 || body.size() - at - 4 < Le32(body, at)) return std::nullopt;
        const std::string_view s = body.substr(at + 4, Le32(body, at));
        at += 4 + s.size();
        return s;
    };
    const std::optional<std::string_view> vendor = next();
    if (!vendor || body.size() - at < 4) return std::nullopt;
    parsed.vendor = *vendor;
    const uint32_t count = Le32(body, at);
    at += 4;
    if (count > (body.size() - at) / 4) return std::nullopt;  // each field takes at least its length
    for (uint32_t i = 0; i < count; ++i) {
        const std::optional<std::string_view> field = next();
        if (!field) return std::nullopt;
        parsed.fields.push_back(*field);
    }
    parsed.after = body.substr(at);
    return parsed;
}

std::optional<std::string> WithComment(const VorbisFields& parsed, std::string_view text) {
    constexpr size_t kMax = std::numeric_limits<uint32_t>::max();
    if (text.size() > kMax - kName.size()) return std::nullopt;
    const std::string comment = std::string(kName) + std::string(text);
    std::vector<std::string_view> fields;
    bool placed = text.empty();
    for (std::string_view field : parsed.fields) {
        if (!IsComment(field)) {
            fields.push_back(field);
        } else if (!placed) {
            fields.push_back(comment);
            placed = true;
        }
    }
    if (!placed) fields.push_back(comment);
    std::string out;
    PutString(out, parsed.vendor);
    PutLe32(out, fields.size());
    for (std::string_view field : fields) PutString(out, field);
    out.append(parsed.after);
    return out;
}

std::string CommentValues(const VorbisFields& parsed) {
    std::string values;
    for (std::string_view field : parsed.fields) {
        if (!IsComment(field)) continue;
        if (!values.empty()) values += '\n';
        values.append(field.substr(kName.size()));
    }
    return values;
}

std::string OtherFields(const VorbisFields& parsed) {
    std::string out;
    PutString(out, parsed.vendor);
    for (std::string_view field : parsed.fields)
        if (!IsComment(field)) PutString(out, field);
    out.append(parsed.after);
    return out;
}

}  // namespace kes
