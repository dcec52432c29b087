#include "platform/memory/profile_json.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/memory/memory_backend.h"

namespace platform::memory {
namespace {

using Json = nlohmann::json;

// Builds the value from the parser's events, as the library's own DOM
// builder does, and stops at the first repeated key.
class StrictBuilder final : public nlohmann::json_sax<Json> {
 public:
  explicit StrictBuilder(Json& root) : root_(root) {}

  bool null() override { return Put(Json(nullptr)); }
  bool boolean(bool value) override { return Put(Json(value)); }
  bool number_integer(number_integer_t value) override { return Put(Json(value)); }
  bool number_unsigned(number_unsigned_t value) override { return Put(Json(value)); }
  bool number_float(number_float_t value, const string_t& /*text*/) override {
    return Put(Json(value));
  }
  bool string(string_t& value) override { return Put(Json(std::move(value))); }
  bool binary(binary_t& value) override { return Put(Json::binary(std::move(value))); }

  bool start_object(std::size_t /*elements*/) override { return Open(Json::object()); }
  bool start_array(std::size_t /*elements*/) override { return Open(Json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool key(string_t& key) override {
    Frame& frame = frames_.back();
    if (frame.container->contains(key)) {
      duplicate_ = PathTo(key);
      return false;
    }
    frame.key = std::move(key);
    return true;
  }

  bool parse_error(std::size_t position, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& error) override {
    error_position_ = position;
    error_ = error.what();
    return false;
  }

  const std::string& duplicate() const { return duplicate_; }
  const std::string& error() const { return error_; }
  std::size_t error_position() const { return error_position_; }

 private:
  struct Frame {
    Json* container;
    std::string key;  // the key whose value comes next (objects only)
  };

  // Places a value where the parser is: the root, the open array, or the
  // open object under its pending key. Returns where it now lives.
  Json* Place(Json value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Frame& frame = frames_.back();
    if (frame.container->is_array()) {
      frame.container->push_back(std::move(value));
      return &frame.container->back();
    }
    return &((*frame.container)[frame.key] = std::move(value));
  }

  bool Put(Json value) {
    Place(std::move(value));
    return true;
  }

  bool Open(Json container) {
    frames_.push_back(Frame{Place(std::move(container)), std::string()});
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  // "a.b[2].c": the open containers' keys and indexes, then the last key.
  std::string PathTo(const std::string& last) const {
    std::string path;
    for (const Frame& frame : frames_) {
      if (&frame == &frames_.back()) break;
      if (frame.container->is_array()) {
        path += "[" + std::to_string(frame.container->size() - 1) + "]";
      } else {
        if (!path.empty()) path += ".";
        path += frame.key;
      }
    }
    if (!path.empty()) path += ".";
    return path + last;
  }

  Json& root_;
  std::vector<Frame> frames_;
  std::string duplicate_;
  std::string error_;
  std::size_t error_position_ = 0;
};

// The library's message without its "[json.exception...]" tag and its own
// position, which the caller states as a line.
std::string Describe(const std::string& message) {
  std::string what = message;
  const auto at = what.find("parse error");
  if (at != std::string::npos) {
    const auto colon = what.find(": ", at);
    if (colon != std::string::npos) return what.substr(colon + 2);
  }
  if (!what.empty() && what[0] == '[') {
    const auto close = what.find("] ");
    if (close != std::string::npos) what = what.substr(close + 2);
  }
  return what;
}

}  // namespace

nlohmann::json ParseProfileJson(std::string_view text, const std::string& file) {
  Json root;
  StrictBuilder builder(root);
  const bool parsed = Json::sax_parse(text.begin(), text.end(), &builder);
  if (!builder.duplicate().empty()) {
    throw ProfileError(file + ": duplicate key '" + builder.duplicate() + "'");
  }
  if (!parsed) {
    // The position is one past the byte that stopped the parser.
    const std::size_t end =
        std::min(builder.error_position() > 0 ? builder.error_position() - 1 : 0, text.size());
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + end, '\n'));
    throw ProfileError(file + ":" + std::to_string(line) + ": " + Describe(builder.error()));
  }
  return root;
}

}  // namespace platform::memory
