// Every byte example in docs/ is a fenced block with a name in its info
// string ("```hex handshake", "```json marker"); this test rebuilds each from
// the code and compares, so the documents cannot drift from the host.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <sstream>

#include "app_link/app_messages.h"
#include "app_link/runtime_endpoint.h"
#include "main/framing.h"
#include "main/host_mode.h"
#include "registration/registration.h"
#include "support/memory_channel.h"

namespace host::test {
namespace {

// The named blocks of one document: info string -> text between the fences.
std::map<std::string, std::string> named_blocks(const std::string& file) {
  std::ifstream in(std::string(HOST_DOCS_DIR) + "/" + file, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read docs/" << file;
  std::map<std::string, std::string> blocks;
  std::string line, name, text;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside && line.starts_with("```") && line.find(' ') != std::string::npos) {
      inside = true;
      name = line.substr(3);
      text.clear();
    } else if (inside && line == "```") {
      inside = false;
      EXPECT_FALSE(blocks.contains(name)) << "block named twice: " << name;
      blocks[name] = text;
    } else if (inside) {
      text += line + "\n";
    } else if (line.starts_with("```")) {
      // An unnamed block; skip to its end.
      while (std::getline(in, line) && line != "```") {
      }
    }
  }
  EXPECT_FALSE(inside) << "unclosed block " << name;
  return blocks;
}

// A hex block: each line "OOOO  hh hh ... hh  annotation", the offset in
// hex counting the bytes before it.
std::string hex_bytes(const std::string& block) {
  std::string bytes;
  std::istringstream in(block);
  for (std::string line; std::getline(in, line);) {
    SCOPED_TRACE(line);
    EXPECT_GE(line.size(), 8u);
    if (line.size() < 8) continue;
    EXPECT_EQ(std::stoul(line.substr(0, 4), nullptr, 16), bytes.size()) << "offset";
    EXPECT_EQ(line.substr(4, 2), "  ");
    std::size_t at = 6;
    while (at + 2 <= line.size() && std::isxdigit(static_cast<unsigned char>(line[at])) &&
           std::isxdigit(static_cast<unsigned char>(line[at + 1]))) {
      bytes.push_back(static_cast<char>(std::stoul(line.substr(at, 2), nullptr, 16)));
      at += 2;
      if (at < line.size() && line[at] == ' ' && (at + 1 == line.size() || line[at + 1] == ' ')) break;
      if (at < line.size()) ++at;  // the blank between two bytes
    }
  }
  return bytes;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string framed(const json::JsonValue& value) {
  RecordingWriter out;
  EXPECT_TRUE(write_frame(out, value));
  return out.written;
}

// The body of a hex block that must be a valid frame.
json::JsonValue frame_value(const std::string& bytes) {
  ScriptedReader in(bytes);
  auto value = read_frame(in);
  EXPECT_TRUE(value.has_value()) << "not a valid frame";
  EXPECT_EQ(in.consumed, bytes.size()) << "bytes after the frame";
  return value ? *value : json::JsonValue();
}

TEST(DocsExamples, ProtocolBytesAreTheHostsOwn) {
  auto blocks = named_blocks("protocol.md");
  for (const char* name : {"json runtime-endpoint", "text canonical", "hex handshake", "hex maintenance",
                           "hex error-reply", "hex session-1-browser-to-host", "hex session-2-host-to-app",
                           "hex session-3-host-to-app", "hex session-4-app-to-host",
                           "hex session-5-host-to-browser"}) {
    ASSERT_TRUE(blocks.contains(name)) << "docs/protocol.md lacks the block " << name;
  }

  const auto endpoint = RuntimeEndpoint::parse(trimmed(blocks["json runtime-endpoint"]));
  ASSERT_TRUE(endpoint.has_value()) << endpoint.error().message();
  EXPECT_EQ(endpoint->endpoint, "\\\\.\\pipe\\velmorantix-browser-3f2a");

  RecordingWriter handshake;
  ASSERT_TRUE(send_transport_auth(handshake, endpoint->nonce, approved_origin()));
  EXPECT_EQ(hex_bytes(blocks["hex handshake"]), handshake.written);
  EXPECT_EQ(hex_bytes(blocks["hex session-2-host-to-app"]), handshake.written);

  RecordingWriter maintenance;
  ASSERT_TRUE(send_prepare_update(maintenance));
  EXPECT_EQ(hex_bytes(blocks["hex maintenance"]), maintenance.written);
  EXPECT_EQ(maintenance.written.size(), 87u);

  EXPECT_EQ(hex_bytes(blocks["hex error-reply"]), framed(error_reply()));

  // What each side sends, as the host forwards it.
  const std::pair<const char*, const char*> hops[] = {
      {"hex session-1-browser-to-host", "hex session-3-host-to-app"},
      {"hex session-4-app-to-host", "hex session-5-host-to-browser"},
  };
  for (const auto& [sent, forwarded] : hops) {
    SCOPED_TRACE(sent);
    const std::string input = hex_bytes(blocks[sent]);
    EXPECT_NE(framed(frame_value(input)), input) << "the example should show the host rewriting it";
    EXPECT_EQ(hex_bytes(blocks[forwarded]), framed(frame_value(input)));
  }

  std::istringstream canonical(blocks["text canonical"]);
  std::size_t pairs = 0;
  for (std::string line; std::getline(canonical, line);) {
    SCOPED_TRACE(line);
    const auto arrow = line.find("  =>  ");
    ASSERT_NE(arrow, std::string::npos);
    const auto value = json::parse_json(line.substr(0, arrow));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(json::to_json_bytes(*value), line.substr(arrow + 6));
    ++pairs;
  }
  EXPECT_GT(pairs, 0u);
}

TEST(DocsExamples, InstallingDocumentsAreJudgedAndRepairedAsShown) {
  auto blocks = named_blocks("installing.md");
  for (const char* name : {"json marker", "json manifest-written", "json manifest-repaired", "text registry-keys"}) {
    ASSERT_TRUE(blocks.contains(name)) << "docs/installing.md lacks the block " << name;
  }
  auto marker = judge_marker(blocks["json marker"]);
  ASSERT_TRUE(marker.has_value()) << marker.error().message();
  EXPECT_EQ(marker->host_name, HOST_NAME_RELEASE);
  EXPECT_TRUE(registration_enabled(marker->marker));

  auto manifest = judge_manifest(blocks["json manifest-written"], marker->host_name);
  ASSERT_TRUE(manifest.has_value()) << manifest.error().message();
  const std::string repaired = trimmed(blocks["json manifest-repaired"]);
  const auto repaired_value = json::parse_json(repaired);
  ASSERT_TRUE(repaired_value.has_value());
  const auto path = repaired_value->get("path")->as_string();
  ASSERT_TRUE(path.has_value());
  LoadedRegistration loaded;
  loaded.host_name = marker->host_name;
  loaded.manifest = std::move(*manifest);
  EXPECT_EQ(render_manifest(loaded, *path), repaired);

  const auto keys = browser_registry_keys(HOST_NAME_RELEASE);
  EXPECT_EQ(blocks["text registry-keys"], keys[0] + "\n" + keys[1] + "\n");
}

}  // namespace
}  // namespace host::test
