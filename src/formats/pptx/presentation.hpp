// Reading presentation decks (.pptx): slide order, slide size, and the top-level shapes of a
// slide with their boxes and text. Read-only; the whole package is read into memory once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vaskit::pptx {

// A deck that cannot be read: not a zip, a missing or malformed part, a slide number outside
// the deck. The message names the file.
class Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Lengths are in EMU (914400 per inch), as the file stores them.
struct Size {
  std::int64_t cx = 0;
  std::int64_t cy = 0;
};

struct Box {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
};

enum class ShapeKind { shape, group, graphic_frame, connector, picture, content_part };

struct Shape {
  ShapeKind kind = ShapeKind::shape;
  std::string name;
  // Only plain shapes (text boxes, auto shapes, placeholders) carry a text frame; groups,
  // tables, charts, pictures and connectors do not.
  bool has_text_frame = false;
  // Paragraphs joined by "\n"; runs and fields concatenated; a line break is "\v".
  std::string text;
  // The shape's own position and size; for a placeholder each missing value comes from the
  // layout placeholder with the same idx, and that one's from the master placeholder of the
  // matching type. Absent when neither the shape nor its ancestors give all four values.
  std::optional<Box> box;
};

class Presentation {
public:
  // Reads the deck. Throws Error when the file cannot be read, is not a zip package or has no
  // readable presentation part.
  static Presentation open(const std::filesystem::path &path);
  Presentation(Presentation &&) noexcept;
  Presentation &operator=(Presentation &&) noexcept;
  ~Presentation();

  // Slides in presentation order (hidden slides included).
  std::size_t slide_count() const;
  // The slide size; absent when the deck does not state one.
  std::optional<Size> slide_size() const;
  // Whether the slide (0-based, presentation order) is marked hidden. Throws Error as shapes()
  // does.
  bool slide_hidden(std::size_t index) const;
  // The slide's top-level shapes in document order (groups are not entered). Throws Error for
  // an index outside the deck or an unreadable slide part.
  std::vector<Shape> shapes(std::size_t index) const;

private:
  struct Impl;
  explicit Presentation(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace vaskit::pptx
