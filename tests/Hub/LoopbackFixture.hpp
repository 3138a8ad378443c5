#pragma once

#include "Hub/HubApi.hpp"
#include "support/TemporaryDirectory.hpp"
#include "tools/loopback-hub/LoopbackHub.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// A loopback hub serving repositories from a temporary folder, and a client downloading into another.
class LoopbackFixture : public ::testing::Test {
protected:
    void SetUp() override { hub.start(); }

    hub::HubApi client(std::optional<std::string> token = std::nullopt) const
    {
        return hub::HubApi(downloadBase, std::move(token), hub.endpoint(), false);
    }

    void publish(const std::string& repoId, const std::string& file, const std::string& contents)
    {
        testsupport::writeFile(hub.repositoryFolder(repoId) / file, contents);
    }

    std::size_t requestsTo(const std::string& path) const
    {
        const auto requests = hub.requests();
        return static_cast<std::size_t>(std::count_if(
            requests.begin(), requests.end(), [&](const auto& request) { return request.path == path; }));
    }

    // Every file below a folder, relative, sorted; hidden leftovers included.
    static std::vector<std::string> filesBelow(const std::filesystem::path& folder)
    {
        std::vector<std::string> files;
        if (!std::filesystem::exists(folder)) {
            return files;
        }
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (!entry.is_directory()) {
                files.push_back(entry.path().lexically_relative(folder).generic_string());
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    template <typename Error>
    static Error caught(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const Error& error) {
            return error;
        }
        throw std::runtime_error("the expected error was not thrown");
    }

    testsupport::TemporaryDirectory temporary;
    loopback::LoopbackHub hub { temporary / "hub" };
    std::filesystem::path downloadBase = temporary / "downloads";
};
