// One relay between in-memory stand-ins for the browser and the
// application, run on a thread of its own so that a hang fails the test
// instead of blocking it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>

#include "main/relay.h"
#include "support/memory_channel.h"
#include "support/memory_connection.h"

namespace host::test {

struct RelayRun {
  static constexpr std::chrono::seconds bound{20};

  std::shared_ptr<MemoryConnection> connection = std::make_shared<MemoryConnection>();
  std::shared_ptr<ByteStream> browser_in = std::make_shared<ByteStream>();
  BrowserOutput browser_out;
  std::future<void> worker_released;
  std::future<HostResult<void>> result;

  void start() {
    auto reader = std::make_shared<StreamReader>(browser_in);
    worker_released = reader->released();
    result = std::async(std::launch::async, [this, reader = std::move(reader)]() mutable {
      return relay_messages(connection, std::move(reader), browser_out);
    });
  }
  // The relay's result; a relay that does not end within the bound fails
  // the test (and then blocks until it does end).
  HostResult<void> finish() {
    EXPECT_EQ(result.wait_for(bound), std::future_status::ready) << "the relay did not end";
    return result.get();
  }
  // The relay's result if it ended within the bound; then the browser's
  // input is closed and the worker must let go of it.
  std::optional<HostResult<void>> finish_within_bound() {
    if (result.wait_for(bound) != std::future_status::ready) return std::nullopt;
    browser_in->close();
    expect_worker_ended();
    return result.get();
  }
  void expect_worker_ended() {
    EXPECT_EQ(worker_released.wait_for(bound), std::future_status::ready) << "the worker did not end";
  }
};

}  // namespace host::test
