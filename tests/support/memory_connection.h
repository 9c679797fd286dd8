// Thread-safe in-memory stand-ins for the relay's channels: a blocking byte
// stream (standard input, either direction of the pipe), a connection built
// from two of them with the pipe's shutdown rules, and a browser output that
// records or fails.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <string>

#include "main/byte_channel.h"

namespace host::test {

// Bytes pushed by one thread, read by another; a read blocks until bytes
// arrive or the stream is closed (then 0) or aborted (then the abort error).
class ByteStream {
 public:
  void push(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    data_.append(bytes);
    cv_.notify_all();
  }
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    cv_.notify_all();
  }
  void abort(HostError error) {
    std::lock_guard lock(mutex_);
    abort_ = std::move(error);
    cv_.notify_all();
  }
  HostResult<std::size_t> read(std::span<char> buffer) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return abort_ || closed_ || offset_ < data_.size(); });
    if (abort_) return std::unexpected(*abort_);
    if (offset_ == data_.size()) return 0;
    const std::size_t n = std::min(buffer.size(), data_.size() - offset_);
    std::memcpy(buffer.data(), data_.data() + offset_, n);
    offset_ += n;
    return n;
  }
  // Everything pushed so far.
  std::string contents() {
    std::lock_guard lock(mutex_);
    return data_;
  }
  // Waits, bounded, until the stream holds at least n bytes.
  bool wait_for_size(std::size_t n, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return data_.size() >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::string data_;
  std::size_t offset_ = 0;
  bool closed_ = false;
  std::optional<HostError> abort_;
};

// Standard input as the worker sees it. Signals when the worker lets go of
// it, which is when the worker has ended.
class StreamReader final : public ByteReader {
 public:
  explicit StreamReader(std::shared_ptr<ByteStream> stream) : stream_(std::move(stream)) {}
  ~StreamReader() override { released_.set_value(); }
  HostResult<std::size_t> read(std::span<char> buffer) override { return stream_->read(buffer); }
  std::future<void> released() { return released_.get_future(); }

 private:
  std::shared_ptr<ByteStream> stream_;
  std::promise<void> released_;
};

// The pipe with the transport's rules: after shutdown every transfer fails
// with "Pipe closed", and a read outstanding at that moment is cancelled.
class MemoryConnection final : public Connection {
 public:
  std::shared_ptr<ByteStream> from_app = std::make_shared<ByteStream>();
  std::shared_ptr<ByteStream> to_app = std::make_shared<ByteStream>();
  std::atomic<int> shutdowns{0};
  std::atomic<int> effective_shutdowns{0};

  HostResult<std::size_t> read(std::span<char> buffer) override {
    if (buffer.empty()) return 0;
    if (closed_) return std::unexpected(HostError::fixed(ErrorKind::NotConnected, msg::pipe_closed));
    return from_app->read(buffer);
  }
  HostResult<std::size_t> write(std::span<const char> bytes) override {
    if (bytes.empty()) return 0;
    if (closed_) return std::unexpected(HostError::fixed(ErrorKind::NotConnected, msg::pipe_closed));
    to_app->push(std::string_view(bytes.data(), bytes.size()));
    return bytes.size();
  }
  void shutdown() noexcept override {
    ++shutdowns;
    if (closed_.exchange(true)) return;
    ++effective_shutdowns;
    from_app->abort(HostError::os(win_error::operation_aborted));
  }

 private:
  std::atomic<bool> closed_{false};
};

// The browser's end of standard output.
class BrowserOutput final : public ByteWriter {
 public:
  HostResult<std::size_t> write(std::span<const char> bytes) override {
    if (fail_) return std::unexpected(HostError::os(win_error::no_data));
    stream.push(std::string_view(bytes.data(), bytes.size()));
    return bytes.size();
  }
  void fail_from_now() { fail_ = true; }
  ByteStream stream;

 private:
  std::atomic<bool> fail_{false};
};

}  // namespace host::test
