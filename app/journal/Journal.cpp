#include "Journal.h"

#include <algorithm>
#include <utility>

namespace kes::journal {
namespace {

// A file's small records go to disk in one write; a bigger one (a chunk of
// a big file's delta) goes on its own.
constexpr size_t kBatch = size_t{1} << 20;
constexpr size_t kCopyBlock = size_t{1} << 20;

bool EndsWithSeparator(const std::u16string& folder) {
    return !folder.empty() && (folder.back() == u'\\' || folder.back() == u'/');
}

// Paths below the run's folder are stored without it, to keep records small.
std::optional<std::u16string> PathBelow(const std::u16string& folder, const std::u16string& path) {
    if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
        return std::nullopt;
    size_t at = folder.size();
    if (!EndsWithSeparator(folder) && path[at++] != u'\\') return std::nullopt;
    if (at == path.size()) return std::nullopt;
    return path.substr(at);
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& below) {
    return EndsWithSeparator(folder) ? folder + below : folder + u'\\' + below;
}

// Reads `length` bytes from `offset` in pieces and hands each to `take`,
// which answers false when it could not write them.
template <typename Take>
UndoStep CopyRange(ByteSource& from, uint64_t offset, uint64_t length, Take&& take) {
    std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(kCopyBlock, length)));
    while (length != 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), length));
        if (!from.Read(offset, block.data(), n)) return UndoStep::ReadFailed;
        if (!take(block.data(), n)) return UndoStep::WriteFailed;
        offset += n;
        length -= n;
    }
    return UndoStep::Ok;
}

}  // namespace

JournalWriter::JournalWriter(RecordOutput& out, uint64_t salt, RunInfo info)
    : out_(out), salt_(salt), info_(std::move(info)) {}

bool JournalWriter::Begin() {
    const std::vector<uint8_t> header = EncodeHeader(salt_, info_);
    if (failed_ || !out_.Write(header.data(), header.size()) || !out_.Flush()) return Fail();
    return true;
}

void JournalWriter::PlacePath(const std::u16string& path, std::u16string& kept, bool& relative) const {
    std::optional<std::u16string> below = PathBelow(info_.folder, path);
    relative = below.has_value();
    kept = below ? std::move(*below) : path;
}

bool JournalWriter::AppendFile(const WrittenFile& file, const uint8_t* old, size_t oldSize, ByteSource& newFile,
                               bool durable) {
    if (failed_) return false;
    const std::optional<NewFileScan> scan = ScanNewFile(old, oldSize, newFile);
    if (!scan) return Fail();

    FileRecord record;
    PlacePath(file.path, record.path, record.relative);
    record.before = {oldSize, file.oldTime, scan->oldHash};
    record.beforeAttributes = file.oldAttributes;
    record.after = {newFile.Size(), file.newTime, scan->hash};
    record.prefix = scan->prefix;
    record.suffix = scan->suffix;
    record.identity = file.identity;
    record.token = file.token;

    std::vector<uint8_t> pending = NewRecord(RecordType::File);
    AppendFileFields(pending, record);
    SealRecord(pending, salt_, sequence_++);
    const Middles middles = MiddlesOf(record);
    for (uint64_t i = 0; i < ChunkCount(middles); ++i) {
        std::vector<uint8_t> chunk = NewRecord(RecordType::Chunk);
        if (!encoder_.Encode(old + middles.start, middles, i, newFile, chunk)) return Fail();
        SealRecord(chunk, salt_, sequence_++);
        if (!Put(chunk, pending)) return Fail();
    }
    if (!out_.Write(pending.data(), pending.size()) || (durable && !out_.Flush())) return Fail();
    return true;
}

bool JournalWriter::AppendIntent(const IntentRecord& intent) {
    IntentRecord placed = intent;
    PlacePath(intent.path, placed.path, placed.relative);
    std::vector<uint8_t> record = NewRecord(RecordType::Intent);
    AppendIntentFields(record, placed);
    return Write(record);
}

bool JournalWriter::AppendDone(const DoneRecord& done) {
    std::vector<uint8_t> record = NewRecord(RecordType::Done);
    AppendDoneFields(record, done);
    return Write(record);
}

bool JournalWriter::Flush() { return !failed_ && (out_.Flush() || Fail()); }

bool JournalWriter::Write(std::vector<uint8_t>& record) {
    if (failed_) return false;
    SealRecord(record, salt_, sequence_++);
    return out_.Write(record.data(), record.size()) || Fail();
}

// Adds a sealed record to what is pending, or writes what is pending when
// the record would make it too big. Records are written whole, each in one
// call, so that only the journal's very end can ever be torn.
bool JournalWriter::Put(std::vector<uint8_t>& record, std::vector<uint8_t>& pending) {
    if (pending.size() + record.size() <= kBatch) {
        pending.insert(pending.end(), record.begin(), record.end());
        return true;
    }
    if (!out_.Write(pending.data(), pending.size())) return false;
    pending = std::move(record);
    return true;
}

bool JournalWriter::Fail() {
    failed_ = true;
    return false;
}

Middles MiddlesOf(const FileRecord& record) {
    return MiddlesOf(record.before.size, record.after.size, record.prefix, record.suffix);
}

UndoStep CheckAsLeft(const FileEntry& file, ByteSource& current, uint64_t currentTime) {
    const FileVersion& after = file.record.after;
    if (current.Size() != after.size || currentTime != after.time) return UndoStep::FileChanged;
    Sha256 hash;
    const UndoStep read = CopyRange(current, 0, after.size, [&](const uint8_t* data, size_t n) {
        hash.Update(data, n);
        return true;
    });
    if (read != UndoStep::Ok) return read;
    const std::optional<Digest> digest = hash.Final();
    if (!digest) return UndoStep::ReadFailed;
    return *digest == after.hash ? UndoStep::Ok : UndoStep::FileChanged;
}

std::optional<JournalReader> JournalReader::Open(ByteSource& journal) {
    std::optional<JournalHeader> header = DecodeHeader(journal);
    if (!header) return std::nullopt;
    JournalReader reader(journal, std::move(*header));
    reader.ReadRecords();
    return reader;
}

void JournalReader::ReadRecords() {
    const uint64_t size = journal_->Size();
    uint64_t offset = header_.size;
    for (uint32_t sequence = 0; offset < size; ++sequence) {
        const std::optional<std::vector<uint8_t>> payload = ReadRecord(*journal_, header_.salt, offset, sequence);
        if (!payload) {
            end_ = IntactRecordAfter(*journal_, header_.salt, offset, sequence) ? JournalEnd::Damaged
                                                                                 : JournalEnd::TornTail;
            return;
        }
        if (!Take(*payload, offset, sequence)) {
            end_ = JournalEnd::Damaged;
            return;
        }
        offset += kRecordHeaderSize + payload->size();
    }
    end_ = JournalEnd::Clean;
}

// False for an intact record that makes no sense here (a chunk with no
// file waiting for it, a record before the last file's chunks are all
// there, a done record naming no file): the tool never writes one, so
// nothing after it is trusted either.
bool JournalReader::Take(const std::vector<uint8_t>& payload, uint64_t offset, uint32_t sequence) {
    const RecordType type = payload.empty() ? RecordType{} : static_cast<RecordType>(payload[0]);
    if (type == RecordType::Chunk) {
        if (missingChunks_ == 0) return false;
        files_.back().chunks.push_back({offset, sequence});
        files_.back().complete = --missingChunks_ == 0;
        return true;
    }
    if (missingChunks_ != 0) return false;
    switch (type) {
        case RecordType::File: return TakeFile(payload);
        case RecordType::Intent: {
            const std::optional<IntentRecord> intent = DecodeIntentRecord(payload.data(), payload.size());
            if (!intent) return false;
            open_.push_back({FullPath(intent->path, intent->relative), intent->token, intent->before, intent->after});
            return true;
        }
        case RecordType::Done: {
            const std::optional<DoneRecord> done = DecodeDoneRecord(payload.data(), payload.size());
            if (!done) return false;
            for (const auto& [file, identity] : done->identities) {
                if (file >= files_.size()) return false;
                files_[file].record.identity = identity;
            }
            open_.clear();
            return true;
        }
        default: return false;
    }
}

bool JournalReader::TakeFile(const std::vector<uint8_t>& payload) {
    std::optional<FileRecord> record = DecodeFileRecord(payload.data(), payload.size(), header_.version);
    if (!record) return false;
    FileEntry entry;
    entry.path = FullPath(record->path, record->relative);
    missingChunks_ = ChunkCount(MiddlesOf(*record));
    entry.complete = missingChunks_ == 0;
    if (record->token != 0) open_.push_back({entry.path, record->token, record->before, record->after});
    entry.record = std::move(*record);
    files_.push_back(std::move(entry));
    return true;
}

std::u16string JournalReader::FullPath(const std::u16string& path, bool relative) const {
    return relative ? JoinPath(header_.info.folder, path) : path;
}

std::vector<OpenReplace> JournalReader::OpenReplaces() const { return open_; }

UndoStep JournalReader::Rebuild(const FileEntry& file, ByteSource& current, ByteSink& out) const {
    const FileRecord& record = file.record;
    if (!file.complete) return UndoStep::JournalDamaged;
    if (current.Size() != record.after.size) return UndoStep::FileChanged;
    Sha256 hash;
    const auto emit = [&](const uint8_t* data, size_t n) {
        hash.Update(data, n);
        return out.Write(data, n);
    };
    UndoStep step = CopyRange(current, 0, record.prefix, emit);
    const Middles middles = MiddlesOf(record);
    DeltaDecoder decoder;
    std::vector<uint8_t> chunk;
    for (size_t i = 0; step == UndoStep::Ok && i < file.chunks.size(); ++i) {
        const std::optional<std::vector<uint8_t>> payload =
            ReadRecord(*journal_, header_.salt, file.chunks[i].offset, file.chunks[i].sequence);
        if (!payload || payload->empty() || (*payload)[0] != static_cast<uint8_t>(RecordType::Chunk)) {
            step = UndoStep::JournalDamaged;
            break;
        }
        switch (decoder.Decode(payload->data() + 1, payload->size() - 1, middles, i, current, chunk)) {
            case DecodeResult::Ok:
                step = emit(chunk.data(), chunk.size()) ? UndoStep::Ok : UndoStep::WriteFailed;
                break;
            case DecodeResult::BadFrame: step = UndoStep::JournalDamaged; break;
            case DecodeResult::ReadFailed: step = UndoStep::ReadFailed; break;
        }
    }
    if (step == UndoStep::Ok) step = CopyRange(current, record.after.size - record.suffix, record.suffix, emit);
    if (step != UndoStep::Ok) return step;
    // The one check that keeps a flipped bit anywhere (journal, current
    // file, our own code) from reaching a file.
    const std::optional<Digest> digest = hash.Final();
    return digest && *digest == record.before.hash ? UndoStep::Ok : UndoStep::JournalDamaged;
}

}  // namespace kes::journal
