// The claim folders of a shared folder in memory, as every host sees them:
// hand one FakeClaimFolder to the FileClaims of each host of a test. Create
// is exclusive and MoveAside a rename, as on the real servers. A test may
// make the folder read-only or failing, and may act in the instant after a
// host read a record (BeforeMove), to play the races between hosts.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/ports/claims.h"

class FakeClaimFolder final : public tallowin::ClaimFolder {
  public:
    using ClaimIo = tallowin::ClaimIo;
    using ClaimIoResult = tallowin::ClaimIoResult;

    ClaimIo failWith = ClaimIo::Done;  // ReadOnly or Failed: every change fails so
    // Called once, at the next MoveAside, before it moves anything.
    std::function<void()> beforeMove;

    ClaimIoResult Create(const std::string& hot, const std::string& name,
                         const std::string& text) override {
        std::lock_guard g(m_);
        if (failWith != ClaimIo::Done) return {failWith, {}, "refused"};
        ++creates;
        if (!files_.try_emplace({hot, name}, text).second) return {ClaimIo::Exists, {}, {}};
        return {};
    }
    ClaimIoResult Read(const std::string& hot, const std::string& name) override {
        std::lock_guard g(m_);
        const auto it = files_.find({hot, name});
        if (it == files_.end()) return {ClaimIo::Missing, {}, {}};
        return {ClaimIo::Done, it->second, {}};
    }
    ClaimIoResult Replace(const std::string& hot, const std::string& name, const std::string&,
                          const std::string& text) override {
        std::lock_guard g(m_);
        if (failWith != ClaimIo::Done) return {failWith, {}, "refused"};
        files_[{hot, name}] = text;
        return {};
    }
    ClaimIoResult MoveAside(const std::string& hot, const std::string& name,
                            const std::string& aside) override {
        if (auto hook = std::exchange(beforeMove, nullptr)) hook();
        std::lock_guard g(m_);
        if (failWith != ClaimIo::Done) return {failWith, {}, "refused"};
        const auto it = files_.find({hot, name});
        if (it == files_.end()) return {ClaimIo::Missing, {}, {}};
        std::string text = std::move(it->second);
        files_.erase(it);
        files_[{hot, aside}] = std::move(text);
        return {};
    }
    ClaimIoResult Remove(const std::string& hot, const std::string& name) override {
        std::lock_guard g(m_);
        if (failWith != ClaimIo::Done) return {failWith, {}, "refused"};
        return files_.erase({hot, name}) != 0 ? ClaimIoResult{} : ClaimIoResult{ClaimIo::Missing};
    }
    std::vector<std::string> List(const std::string& hot) override {
        std::lock_guard g(m_);
        std::vector<std::string> names;
        for (const auto& [key, text] : files_) {
            if (key.first == hot) names.push_back(key.second);
        }
        return names;
    }

    // What the test sees and plants.
    void Put(const std::string& hot, const std::string& name, const std::string& text) {
        std::lock_guard g(m_);
        files_[{hot, name}] = text;
    }
    std::vector<std::string> Names(const std::string& hot) { return List(hot); }

    int creates = 0;

  private:
    std::mutex m_;
    std::map<std::pair<std::string, std::string>, std::string> files_;
};
