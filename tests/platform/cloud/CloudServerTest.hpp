#pragma once

#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/Container.hpp"
#include "support/PostgresTestServer.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace cloudtest {

using platform::cloud::CloudError;

inline constexpr char containerIdentifier[] = "iCloud.com.OrvandaNote";

// Each test gets a private server; tests skip only where no server binary exists.
class CloudServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string whyNot;
        if (!testsupport::PostgresTestServer::available(whyNot)) {
            GTEST_SKIP() << whyNot;
        }
        server = testsupport::PostgresTestServer::start();
    }

    platform::cloud::CloudConfiguration configuration(const std::string& cacheName = "cache") const
    {
        platform::cloud::CloudConfiguration result;
        result.url = server->url();
        result.assetCacheFolder = temporary / cacheName;
        return result;
    }

    platform::cloud::Container container(const std::string& identifier = containerIdentifier) const
    {
        return platform::cloud::Container(identifier, configuration());
    }

    static CloudError::Code failure(const std::function<void()>& action)
    {
        try {
            action();
        } catch (const CloudError& error) {
            // Descriptions are fixed per code: no server text ever gets through.
            EXPECT_EQ(error.what(), CloudError::describe(error.code()));
            return error.code();
        }
        ADD_FAILURE() << "no CloudError";
        return CloudError::Code::internalError;
    }

    testsupport::TemporaryDirectory temporary;
    std::unique_ptr<testsupport::PostgresTestServer> server;
};

} // namespace cloudtest
