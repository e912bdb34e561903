#include "engine/claim_record.h"

#include <algorithm>
#include <charconv>

namespace tallowin {

namespace {

constexpr std::string_view kFirstLine = "tallowin-claim 1";
constexpr std::string_view kClaimSuffix = ".claim";
constexpr std::string_view kAsideSuffix = ".taken";
constexpr std::string_view kTempSuffix = ".tmp";
// A readable record name for file names up to this long; the helpers' names
// add the run and a suffix, and all must stay within NAME_MAX (255).
constexpr std::size_t kLongestReadableName = 200;
constexpr std::uint32_t kShortestLeaseMs = 2000;
constexpr std::uint32_t kLongestLeaseMs = 600000;

std::string Escape(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '\\') {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 4 || text[i + 1] != 'x') return std::nullopt;
        const int high = HexDigit(text[i + 2]);
        const int low = HexDigit(text[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

template <class T>
bool ParseNumber(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// FNV-1a: stable across hosts and builds, which std::hash is not.
std::uint64_t NameHash(std::string_view name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

std::string FormatClaim(const ClaimRecord& record) {
    std::string text(kFirstLine);
    text += "\nfile=" + Escape(record.File);
    text += "\nhost=" + Escape(record.Owner.Host);
    text += "\nledger=" + Escape(record.Owner.Ledger);
    text += "\npid=" + std::to_string(record.Owner.Pid);
    text += "\nrun=" + Escape(record.Owner.Run);
    text += std::string("\nstage=") + (record.Stage == ClaimStage::Sending ? "sending" : "claimed");
    text += "\nlease-ms=" + std::to_string(record.LeaseMs);
    text += "\nrenewal=" + std::to_string(record.Renewal);
    text += "\nwritten=" + std::to_string(record.WrittenAt);
    text += "\n";
    return text;
}

std::optional<ClaimRecord> ParseClaim(std::string_view text) {
    // A record is written whole or not at all; one without its last line
    // break is one being written (or damaged).
    if (text.empty() || text.back() != '\n') return std::nullopt;
    ClaimRecord record;
    bool first = true, haveFile = false, haveHost = false, haveRun = false, haveStage = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (first) {
            if (line != kFirstLine) return std::nullopt;
            first = false;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        bool ok = true;
        const auto text_of = [&](std::string& into, bool& have) {
            std::optional<std::string> plain = Unescape(value);
            ok = plain.has_value();
            if (ok) into = std::move(*plain);
            have = ok;
        };
        bool ignored = false;
        if (key == "file") {
            text_of(record.File, haveFile);
        } else if (key == "host") {
            text_of(record.Owner.Host, haveHost);
        } else if (key == "ledger") {
            text_of(record.Owner.Ledger, ignored);
        } else if (key == "run") {
            text_of(record.Owner.Run, haveRun);
        } else if (key == "pid") {
            ok = ParseNumber(value, record.Owner.Pid);
        } else if (key == "stage") {
            haveStage = value == "claimed" || value == "sending";
            record.Stage = value == "sending" ? ClaimStage::Sending : ClaimStage::Claimed;
            ok = haveStage;
        } else if (key == "lease-ms") {
            ok = ParseNumber(value, record.LeaseMs);
        } else if (key == "renewal") {
            ok = ParseNumber(value, record.Renewal);
        } else if (key == "written") {
            ok = ParseNumber(value, record.WrittenAt);
        }
        // Keys of later versions are passed over.
        if (!ok) return std::nullopt;
    }
    if (!haveFile || !haveHost || !haveRun || !haveStage) return std::nullopt;
    return record;
}

std::string ClaimFileName(const std::string& fileName) {
    if (fileName.size() <= kLongestReadableName) return fileName + std::string(kClaimSuffix);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = "~";
    const std::uint64_t hash = NameHash(fileName);
    for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xf];
    return name + std::string(kClaimSuffix);
}

bool IsClaimFileName(std::string_view name) {
    return name.size() > kClaimSuffix.size() && name.ends_with(kClaimSuffix);
}

std::string ClaimTempName(const std::string& claimName, const std::string& run) {
    return claimName + "." + run + std::string(kTempSuffix);
}

bool IsClaimTempName(std::string_view name) {
    return name.ends_with(kTempSuffix);
}

std::string ClaimAsideName(const std::string& claimName, const std::string& run) {
    return claimName + "." + run + std::string(kAsideSuffix);
}

bool IsClaimAsideName(std::string_view name, std::string_view claimName) {
    if (!name.ends_with(kAsideSuffix)) return false;
    if (claimName.empty()) return true;
    return name.size() > claimName.size() + 1 + kAsideSuffix.size() &&
           name.starts_with(claimName) && name[claimName.size()] == '.';
}

std::string DescribeHolder(const ClaimOwner& owner) {
    return "host " + owner.Host + " (process " + std::to_string(owner.Pid) + ")";
}

std::uint32_t LeaseOf(const std::optional<ClaimRecord>& record) {
    if (!record) return kClaimLeaseMs;
    return std::clamp(record->LeaseMs, kShortestLeaseMs, kLongestLeaseMs);
}

ClaimVerdict JudgeClaim(const std::optional<ClaimRecord>& record, const ClaimOwner& me,
                        std::uint32_t unchangedMs) {
    if (record && record->Owner.SameService(me)) {
        return record->Owner.Run == me.Run ? ClaimVerdict::Mine : ClaimVerdict::Reclaim;
    }
    if (unchangedMs < LeaseOf(record)) return ClaimVerdict::Busy;
    // Once a job may have been sent, only its host's ledger can tell whether
    // it printed; another host that sent it again could print it twice.
    if (record && record->Stage == ClaimStage::Sending) return ClaimVerdict::AwaitHost;
    return ClaimVerdict::TakeOver;
}

}  // namespace tallowin
