// The physical layout of the two keyboards and of the editor's four pages,
// from one table: each key's position, width and the usage it sends with and
// without FN held. The page interface files and the keyboard pictures are
// generated from it at build time.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vexa::layout {

// Geometry in points.
inline constexpr double kUnit = 44;          // one key unit (1u), also the row height
inline constexpr double kMargin = 18;        // keyboard case around the keys
inline constexpr double kCapWidth = 24;      // cap marker and key cap image
inline constexpr double kCapHeight = 27;
inline constexpr double kTallKeyHeight = 89; // the JIS Return key spans two rows
inline constexpr int kRows = 5;
inline constexpr int kRowUnits = 15;

// Artwork is drawn at this many pixels per point.
inline constexpr int kArtworkScale = 2;

enum class Board { Ansi, Jis };

enum KeyFlag : std::uint8_t {
    kGap = 1 << 0,       // empty space
    kNoCap = 1 << 1,     // FN key: no cap marker, not assignable
    kTall = 1 << 2,      // L-shaped key reaching into the next row
    kTallRest = 1 << 3,  // space in this row taken by the tall key above
};

// One key of the table: the usage sent normally and with FN held.
struct KeyDef {
    std::uint8_t code = 0;
    std::uint8_t fnCode = 0;
    double width = 1;
    std::uint8_t flags = 0;
};

using Row = std::vector<KeyDef>;

// The five rows of a keyboard, top row first.
std::span<const Row> rows(Board board);

struct PageSpec {
    std::string_view label;        // tab label: "ansi", "ansi_fn", "jis", "jis_fn"
    std::string_view pictureName;  // keyboard picture; ends in "jis" exactly on JIS pages
    std::string_view uiClass;      // class name of the generated interface file
    Board board;
    bool fnLayer;
};

std::span<const PageSpec> pages();

// A key button of a page, in page coordinates (top-left origin).
struct PlacedKey {
    double x, y, width, height;
    std::uint8_t code;  // the usage this key sends on the page
    bool assignable;    // has a cap marker
    bool tall;          // the L-shaped Return key
    // Cap marker rectangle (integral points, centred in the key).
    double capX, capY;
};

std::vector<PlacedKey> placeKeys(const PageSpec& page);

// Size of every page: the keys plus the case margin.
inline constexpr double kPageWidth = kRowUnits * kUnit + 2 * kMargin;
inline constexpr double kPageHeight = kRows * kUnit + 2 * kMargin;

}  // namespace vexa::layout
