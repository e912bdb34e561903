#include "store/job_ledger_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "os/app_environment.h"
#include "util/escaping.h"
#include "util/paths.h"

namespace tallowin {

namespace {

constexpr std::string_view kHeader = "tallowin-jobs\t2";
// Version 1 lacked the job's uuid, its creation time and the record's time;
// its records are read with those empty.
constexpr std::string_view kHeaderV1 = "tallowin-jobs\t1";
constexpr std::size_t kFieldsV1 = 9;
constexpr std::size_t kFields = 12;

constexpr std::pair<JobRecord::Stage, std::string_view> kStages[] = {
    {JobRecord::Stage::Sending, "sending"},
    {JobRecord::Stage::Sent, "sent"},
    {JobRecord::Stage::Printed, "printed"},
    {JobRecord::Stage::Failed, "failed"},
};

template <class T>
std::optional<T> Number(std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> Split(std::string_view line, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = line.find(separator, start);
        parts.push_back(line.substr(start, at == std::string_view::npos ? line.npos : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

std::optional<JobRecord> ParseLine(std::string_view line, std::size_t fields) {
    const std::vector<std::string_view> f = Split(line, '\t');
    if (f.size() != fields) return std::nullopt;
    JobRecord r;
    auto folder = Unescaped(f[0]);
    auto file = Unescaped(f[1]);
    auto printer = Unescaped(f[6]);
    auto device = Number<std::uint64_t>(f[2]);
    auto inode = Number<std::uint64_t>(f[3]);
    auto size = Number<std::uint64_t>(f[4]);
    auto mtime = Number<std::int64_t>(f[5]);
    auto job = Number<int>(f[7]);
    if (!folder || !file || !printer || !device || !inode || !size || !mtime || !job) {
        return std::nullopt;
    }
    bool stageKnown = false;
    for (const auto& [stage, word] : kStages) {
        if (f[8] == word) {
            r.State = stage;
            stageKnown = true;
        }
    }
    if (!stageKnown) return std::nullopt;
    r.FolderPath = std::move(*folder);
    r.FileName = std::move(*file);
    r.PrinterName = std::move(*printer);
    r.Identity = {*device, *inode, *size, *mtime};
    r.JobId = *job;
    if (fields == kFieldsV1) return r;
    auto uuid = Unescaped(f[9]);
    auto created = Number<std::int64_t>(f[10]);
    auto recorded = Number<std::int64_t>(f[11]);
    if (!uuid || !created || !recorded) return std::nullopt;
    r.JobUuid = std::move(*uuid);
    r.CreatedAt = *created;
    r.RecordedAt = *recorded;
    return r;
}

Status LedgerFailure(std::string reason) {
    return Status::Failure(HF_ERR_STATE, std::move(reason));
}

}  // namespace

std::string FormatJobLedger(const std::vector<JobRecord>& records) {
    std::string text(kHeader);
    text += '\n';
    for (const JobRecord& r : records) {
        AppendEscaped(text, r.FolderPath);
        text += '\t';
        AppendEscaped(text, r.FileName);
        text += '\t' + std::to_string(r.Identity.Device) + '\t' + std::to_string(r.Identity.Inode) +
                '\t' + std::to_string(r.Identity.Size) + '\t' +
                std::to_string(r.Identity.ModifiedNs) + '\t';
        AppendEscaped(text, r.PrinterName);
        text += '\t' + std::to_string(r.JobId) + '\t';
        for (const auto& [stage, word] : kStages) {
            if (stage == r.State) text += word;
        }
        text += '\t';
        AppendEscaped(text, r.JobUuid);
        text += '\t' + std::to_string(r.CreatedAt) + '\t' + std::to_string(r.RecordedAt) + '\n';
    }
    return text;
}

std::optional<std::vector<JobRecord>> ParseJobLedger(const std::string& text) {
    std::vector<std::string_view> lines = Split(text, '\n');
    // Every line ends with a newline, so the last part is empty.
    if (lines.size() < 2 || !lines.back().empty()) return std::nullopt;
    std::size_t fields = 0;
    if (lines.front() == kHeader) {
        fields = kFields;
    } else if (lines.front() == kHeaderV1) {
        fields = kFieldsV1;
    } else {
        return std::nullopt;
    }
    std::vector<JobRecord> records;
    records.reserve(lines.size() - 2);
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        auto record = ParseLine(lines[i], fields);
        if (!record) return std::nullopt;
        records.push_back(std::move(*record));
    }
    return records;
}

FileJobLedger::FileJobLedger(std::string path)
    : path_(std::move(path)),
      file_(path_, "the job ledger", "tallowin-jobs-end",
            // The version before wrote no end line.
            "tallowin-jobs\t1\n") {
    loadStatus_ = Load();
}

Status FileJobLedger::Load() {
    using Source = MirroredFile::Loaded::Source;
    const MirroredFile::Loaded loaded =
        file_.Load([](const std::string& body) { return ParseJobLedger(body).has_value(); });
    writable_ = !loaded.Blocked;
    if (loaded.From == Source::File || loaded.From == Source::Copy) {
        std::optional<std::vector<JobRecord>> read = ParseJobLedger(loaded.Body);
        for (JobRecord& r : *read) {
            Key key{r.FolderPath, r.FileName};
            records_.insert_or_assign(std::move(key), std::move(r));
        }
    }
    if (loaded.Damage.empty()) return Status::Success();

    const std::string jobs = std::to_string(records_.size()) + " job(s) in flight";
    std::string reason = loaded.Damage;
    switch (loaded.From) {
        case Source::File:
            reason += "; " + path_ + " itself was read: " + jobs + ", none lost";
            break;
        case Source::Copy:
            reason += "; its copy " + file_.CopyPath() + " was read instead: " + jobs +
                      " recovered, none lost";
            break;
        case Source::Nothing:  // no damage without a file: not here
        case Source::Neither:
            recordsLost_ = true;
            reason +=
                "; no good copy remained, so the jobs it recorded as sent and not yet finished "
                "are no longer known; a new job ledger was begun";
            break;
    }
    if (!writable_) {
        reason +=
            ". Until the damaged file is moved away, no job is recorded and nothing is "
            "printed";
    } else if (loaded.From != Source::Neither) {
        // Both copies whole again, so that the next damage finds one.
        if (const Status stored = Store(true); !stored.Ok()) reason += "; " + stored.Reason;
    }
    return LedgerFailure(std::move(reason));
}

std::optional<JobRecord> FileJobLedger::Find(const std::string& folderPath,
                                             const std::string& fileName) const {
    const std::lock_guard lock(mutex_);
    const auto it = records_.find(Key{folderPath, fileName});
    if (it == records_.end()) return std::nullopt;
    return it->second;
}

std::vector<JobRecord> FileJobLedger::InFolder(const std::string& folderPath) const {
    const std::lock_guard lock(mutex_);
    std::vector<JobRecord> found;
    for (auto it = records_.lower_bound(Key{folderPath, {}});
         it != records_.end() && it->first.first == folderPath; ++it) {
        found.push_back(it->second);
    }
    return found;
}

Status FileJobLedger::Put(const JobRecord& record) {
    return Replace(record, true);
}

Status FileJobLedger::Update(const JobRecord& record) {
    return Replace(record, false);
}

Status FileJobLedger::Replace(const JobRecord& record, bool flushed) {
    const std::lock_guard lock(mutex_);
    if (!writable_) return loadStatus_;
    Key key{record.FolderPath, record.FileName};
    const auto old = records_.find(key);
    std::optional<JobRecord> previous;
    if (old != records_.end()) previous = old->second;
    records_.insert_or_assign(std::move(key), record);
    Status stored = Store(flushed);
    if (!stored.Ok()) {  // what is in memory stays what is on disk
        if (previous) {
            records_.insert_or_assign(Key{record.FolderPath, record.FileName}, *previous);
        } else {
            records_.erase(Key{record.FolderPath, record.FileName});
        }
    }
    return stored;
}

Status FileJobLedger::Erase(const std::string& folderPath, const std::string& fileName) {
    const std::lock_guard lock(mutex_);
    if (!writable_) return loadStatus_;
    const auto it = records_.find(Key{folderPath, fileName});
    if (it == records_.end()) return Status::Success();
    JobRecord previous = it->second;
    records_.erase(it);
    Status stored = Store(false);
    if (!stored.Ok()) records_.insert_or_assign(Key{folderPath, fileName}, std::move(previous));
    return stored;
}

Status FileJobLedger::Store(bool flushed) const {
    std::vector<JobRecord> all;
    all.reserve(records_.size());
    for (const auto& [key, record] : records_) all.push_back(record);
    if (Status folder = MakePrivateFolder(FolderOf(path_)); !folder.Ok()) return folder;
    const std::string body = FormatJobLedger(all);
    if (const ReplaceResult stored = flushed ? file_.Store(body) : file_.StoreUnflushed(body);
        !stored.Ok) {
        return LedgerFailure("cannot store the job ledger " + path_ + ": " + stored.Error);
    }
    return Status::Success();
}

}  // namespace tallowin
