#include "JournalFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace kes::journal {
namespace {

constexpr uint8_t kMagic[8] = {'K', 'E', 'S', 'J', 'R', 'N', 'L', 0x1a};
constexpr size_t kHeaderStart = sizeof kMagic + 8;  // magic, version, body length
// A header's body holds three texts of at most a long path each.
constexpr uint32_t kMaxHeaderBody = 1u << 20;

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutU64(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
    for (; value >= 0x80; value >>= 7) out.push_back(static_cast<uint8_t>(value | 0x80));
    out.push_back(static_cast<uint8_t>(value));
}
void PutUnits(std::vector<uint8_t>& out, const std::u16string& text) {
    for (char16_t unit : text) {
        out.push_back(static_cast<uint8_t>(unit));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
}
void PutText(std::vector<uint8_t>& out, const std::u16string& text) {
    PutVarint(out, text.size());
    PutUnits(out, text);
}
void PutDigest(std::vector<uint8_t>& out, const Digest& digest) { out.insert(out.end(), digest.begin(), digest.end()); }
// A path, with whether it is relative to the run's folder riding in its
// count, to keep records small.
void PutPath(std::vector<uint8_t>& out, const std::u16string& path, bool relative) {
    PutVarint(out, uint64_t{path.size()} << 1 | (relative ? 1 : 0));
    PutUnits(out, path);
}
void PutIdentity(std::vector<uint8_t>& out, const FileIdentity& identity) {
    PutVarint(out, identity.volume);
    PutU64(out, identity.file);
}
std::u16string HexToken(uint64_t token) {
    std::u16string text(16, u'0');
    for (size_t i = text.size(); i-- > 0; token >>= 4) text[i] = u"0123456789ABCDEF"[token & 15];
    return text;
}

void SetU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t GetU32(const uint8_t* at) {
    return at[0] | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// Reads fields from a piece of memory; every read checks what is left, and
// the first that fails makes all later ones fail too.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : at_(data), left_(size) {}

    bool Ok() const { return ok_; }
    bool AtEnd() const { return ok_ && left_ == 0; }

    uint8_t U8() {
        uint8_t value = 0;
        Take(&value, 1);
        return value;
    }
    uint32_t U32() {
        uint8_t bytes[4] = {};
        Take(bytes, 4);
        return GetU32(bytes);
    }
    uint64_t U64() {
        const uint64_t low = U32();
        return low | static_cast<uint64_t>(U32()) << 32;
    }
    uint64_t Varint() {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const uint8_t byte = U8();
            // The tenth byte may only carry the top bit of 64.
            if (!ok_ || (shift == 63 && byte > 1)) return Fail();
            value |= static_cast<uint64_t>(byte & 0x7f) << shift;
            if (!(byte & 0x80)) return value;
        }
        return Fail();
    }
    std::u16string Text() { return Units(Varint()); }
    std::u16string Units(uint64_t units) {
        if (!ok_ || units > left_ / 2) {
            Fail();
            return {};
        }
        std::u16string text(static_cast<size_t>(units), u'\0');
        for (char16_t& unit : text) {
            unit = static_cast<char16_t>(at_[0] | at_[1] << 8);
            at_ += 2;
            left_ -= 2;
        }
        return text;
    }
    std::u16string Path(bool& relative) {
        const uint64_t field = Varint();
        relative = (field & 1) != 0;
        return Units(field >> 1);
    }
    FileIdentity Identity() {
        const uint64_t volume = Varint();
        const uint64_t file = U64();
        if (volume > UINT32_MAX) Fail();
        return FileIdentity{static_cast<uint32_t>(volume), file};
    }
    Digest DigestBytes() {
        Digest digest{};
        Take(digest.data(), digest.size());
        return digest;
    }

private:
    void Take(uint8_t* out, size_t n) {
        if (!ok_ || left_ < n) {
            Fail();
            return;
        }
        std::memcpy(out, at_, n);
        at_ += n;
        left_ -= n;
    }
    uint64_t Fail() {
        ok_ = false;
        return 0;
    }

    const uint8_t* at_;
    size_t left_;
    bool ok_ = true;
};

uint32_t Crc(uint32_t crc, const uint8_t* data, size_t size) { return static_cast<uint32_t>(crc32_z(crc, data, size)); }

}  // namespace

std::vector<uint8_t> EncodeHeader(uint64_t salt, const RunInfo& info) {
    std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
    PutU32(out, kJournalVersion);
    PutU32(out, 0);  // the body's length, known below
    PutU64(out, salt);
    PutU64(out, info.startTime);
    PutText(out, info.folder);
    PutText(out, info.typeDescription);
    PutText(out, info.pluginFile);
    SetU32(out.data() + sizeof kMagic + 4, static_cast<uint32_t>(out.size() - kHeaderStart));
    PutU32(out, Crc(0, out.data(), out.size()));
    return out;
}

std::optional<JournalHeader> DecodeHeader(ByteSource& journal) {
    std::vector<uint8_t> bytes(kHeaderStart);
    if (!journal.Read(0, bytes.data(), bytes.size()) || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    const uint32_t version = GetU32(&bytes[sizeof kMagic]);
    if (version != 1 && version != kJournalVersion) return std::nullopt;
    const uint32_t bodySize = GetU32(&bytes[sizeof kMagic + 4]);
    if (bodySize > kMaxHeaderBody) return std::nullopt;
    bytes.resize(kHeaderStart + bodySize + 4);
    if (!journal.Read(kHeaderStart, &bytes[kHeaderStart], bodySize + 4) ||
        Crc(0, bytes.data(), kHeaderStart + bodySize) != GetU32(&bytes[kHeaderStart + bodySize]))
        return std::nullopt;
    Cursor body(&bytes[kHeaderStart], bodySize);
    JournalHeader header;
    header.version = version;
    header.salt = body.U64();
    header.info.startTime = body.U64();
    header.info.folder = body.Text();
    header.info.typeDescription = body.Text();
    header.info.pluginFile = body.Text();
    if (!body.AtEnd()) return std::nullopt;
    header.size = bytes.size();
    return header;
}

uint32_t RecordCrc(uint64_t salt, uint32_t sequence, uint32_t length, const uint8_t* payload) {
    uint8_t fields[16];
    SetU32(fields, static_cast<uint32_t>(salt));
    SetU32(fields + 4, static_cast<uint32_t>(salt >> 32));
    SetU32(fields + 8, sequence);
    SetU32(fields + 12, length);
    return Crc(Crc(0, fields, sizeof fields), payload, length);
}

std::optional<std::vector<uint8_t>> ReadRecord(ByteSource& journal, uint64_t salt, uint64_t offset,
                                               uint32_t sequence) {
    const uint64_t size = journal.Size();
    uint8_t head[kRecordHeaderSize];
    if (offset > size || size - offset < kRecordHeaderSize || !journal.Read(offset, head, sizeof head))
        return std::nullopt;
    const uint32_t length = GetU32(head);
    if (GetU32(head + 4) != sequence || length > kMaxPayload || length > size - offset - kRecordHeaderSize)
        return std::nullopt;
    std::vector<uint8_t> payload(length);
    if (!journal.Read(offset + kRecordHeaderSize, payload.data(), length) ||
        RecordCrc(salt, sequence, length, payload.data()) != GetU32(head + 8))
        return std::nullopt;
    return payload;
}

bool IntactRecordAfter(ByteSource& journal, uint64_t salt, uint64_t offset, uint32_t sequence) {
    constexpr size_t kWindow = 64 << 10;
    const uint64_t size = journal.Size();
    std::vector<uint8_t> window;
    uint64_t windowAt = 0;
    for (uint64_t at = offset + 1; at < size && size - at >= kRecordHeaderSize; ++at) {
        if (at + kRecordHeaderSize > windowAt + window.size()) {
            windowAt = at;
            window.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, size - at)));
            if (!journal.Read(at, window.data(), window.size())) return false;
        }
        const uint8_t* head = &window[at - windowAt];
        const uint32_t length = GetU32(head), number = GetU32(head + 4);
        // Only a plausible header is worth a CRC: a later number, no more
        // records than bytes left could hold, a length that fits.
        if (number < sequence || number - sequence > (size - offset) / kRecordHeaderSize || length > kMaxPayload ||
            length > size - at - kRecordHeaderSize)
            continue;
        if (ReadRecord(journal, salt, at, number)) return true;
    }
    return false;
}

std::vector<uint8_t> NewRecord(RecordType type) {
    std::vector<uint8_t> record(kRecordHeaderSize + 1);
    record[kRecordHeaderSize] = static_cast<uint8_t>(type);
    return record;
}

void SealRecord(std::vector<uint8_t>& record, uint64_t salt, uint32_t sequence) {
    const auto length = static_cast<uint32_t>(record.size() - kRecordHeaderSize);
    SetU32(&record[0], length);
    SetU32(&record[4], sequence);
    SetU32(&record[8], RecordCrc(salt, sequence, length, &record[kRecordHeaderSize]));
}

std::u16string TemporaryName(uint64_t token) { return u"kes-" + HexToken(token) + u".tmp"; }
std::u16string BackupName(uint64_t token) { return u"kes-" + HexToken(token) + u".bak"; }

void AppendFileFields(std::vector<uint8_t>& record, const FileRecord& file) {
    PutPath(record, file.path, file.relative);
    PutVarint(record, file.before.size);
    PutU64(record, file.before.time);
    PutVarint(record, file.beforeAttributes);
    PutDigest(record, file.before.hash);
    PutVarint(record, file.after.size);
    PutU64(record, file.after.time);
    PutDigest(record, file.after.hash);
    PutVarint(record, file.prefix);
    PutVarint(record, file.suffix);
    // Present or not, then the two numbers.
    record.push_back(file.identity ? 1 : 0);
    if (file.identity) PutIdentity(record, *file.identity);
    PutU64(record, file.token);
}

std::optional<FileRecord> DecodeFileRecord(const uint8_t* payload, size_t size, uint32_t version) {
    Cursor in(payload, size);
    if (in.U8() != static_cast<uint8_t>(RecordType::File)) return std::nullopt;
    FileRecord file;
    file.path = in.Path(file.relative);
    file.before.size = in.Varint();
    file.before.time = in.U64();
    const uint64_t attributes = in.Varint();
    file.beforeAttributes = static_cast<uint32_t>(attributes);
    file.before.hash = in.DigestBytes();
    file.after.size = in.Varint();
    file.after.time = in.U64();
    file.after.hash = in.DigestBytes();
    file.prefix = in.Varint();
    file.suffix = in.Varint();
    if (version >= 2) {
        const uint8_t known = in.U8();
        if (known > 1) return std::nullopt;
        if (known == 1) file.identity = in.Identity();
        file.token = in.U64();
    }
    const bool pathOk = !file.path.empty() && file.path.find(u'\0') == std::u16string::npos;
    const bool sizesOk = file.before.size <= kMaxFileSize && file.after.size <= kMaxFileSize &&
                         file.prefix <= kMaxFileSize && file.suffix <= kMaxFileSize &&
                         file.prefix + file.suffix <= std::min(file.before.size, file.after.size);
    if (!in.AtEnd() || !pathOk || !sizesOk || attributes > UINT32_MAX) return std::nullopt;
    return file;
}

void AppendIntentFields(std::vector<uint8_t>& record, const IntentRecord& intent) {
    PutPath(record, intent.path, intent.relative);
    PutU64(record, intent.token);
    for (const FileVersion* version : {&intent.before, &intent.after}) {
        PutVarint(record, version->size);
        PutU64(record, version->time);
        PutDigest(record, version->hash);
    }
}

std::optional<IntentRecord> DecodeIntentRecord(const uint8_t* payload, size_t size) {
    Cursor in(payload, size);
    if (in.U8() != static_cast<uint8_t>(RecordType::Intent)) return std::nullopt;
    IntentRecord intent;
    intent.path = in.Path(intent.relative);
    intent.token = in.U64();
    for (FileVersion* version : {&intent.before, &intent.after}) {
        version->size = in.Varint();
        version->time = in.U64();
        version->hash = in.DigestBytes();
    }
    const bool pathOk = !intent.path.empty() && intent.path.find(u'\0') == std::u16string::npos;
    if (!in.AtEnd() || !pathOk || intent.token == 0 || intent.before.size > kMaxFileSize ||
        intent.after.size > kMaxFileSize)
        return std::nullopt;
    return intent;
}

void AppendDoneFields(std::vector<uint8_t>& record, const DoneRecord& done) {
    PutVarint(record, done.identities.size());
    for (const auto& [file, identity] : done.identities) {
        PutVarint(record, file);
        PutIdentity(record, identity);
    }
}

std::optional<DoneRecord> DecodeDoneRecord(const uint8_t* payload, size_t size) {
    Cursor in(payload, size);
    if (in.U8() != static_cast<uint8_t>(RecordType::Done)) return std::nullopt;
    DoneRecord done;
    const uint64_t count = in.Varint();
    // Each entry takes at least ten bytes: a count beyond that is damage.
    if (count > size / 10) return std::nullopt;
    for (uint64_t i = 0; i < count && in.Ok(); ++i) {
        const uint64_t file = in.Varint();
        const FileIdentity identity = in.Identity();
        if (file > UINT32_MAX) return std::nullopt;
        done.identities.emplace_back(static_cast<uint32_t>(file), identity);
    }
    if (!in.AtEnd()) return std::nullopt;
    return done;
}

}  // namespace kes::journal
