#pragma once
// The editor's pictures on the platform: reading a file, drawing shapes with
// GDI+, and the flattened picture that is saved and copied.
#include "editor/gdiplus_include.h"

#include <memory>
#include <string>
#include <vector>

#include "editor/editor_core.h"

// Starts GDI+ for the process on first use; false when it cannot start.
bool EditorGraphicsReady();

// A picture file as the editor opens it.
struct LoadedPicture {
    editor::Picture picture;  // B8G8R8A8, not premultiplied, upright
    uint32_t frames = 1;      // pictures in the file; the first is opened
};

// Reads a picture file (PNG, or any format WIC reads), turned upright as its
// EXIF orientation says, see-through parts kept; false with the sentence
// when it cannot, or when it would take more memory than is free. Any
// thread that has joined COM; the time it takes grows with the picture.
bool LoadPicture(const std::wstring& path, LoadedPicture& loaded, std::wstring& problem);

// The face and size a text shape of that stroke width is drawn in.
std::unique_ptr<Gdiplus::Font> TextFont(int32_t strokeWidth);

// Draws `shapes` (picture coordinates) with `graphics`, whose transform maps
// the picture to its target.
void DrawShapes(Gdiplus::Graphics& graphics, const std::vector<editor::Shape>& shapes);
void DrawShape(Gdiplus::Graphics& graphics, const editor::Shape& shape);

// The picture as it will be saved: the shapes drawn into a copy of the base,
// the only copy made. False with the sentence when there is no memory for it.
bool Flatten(const editor::Document& document, editor::Picture& flat, std::wstring& problem);

// Saves a flattened picture as PNG at `path`, written as path + ".part" and
// moved into place: 24-bit when it is opaque, 32-bit with its transparency
// otherwise, read row by row from `flat` without another copy. An existing
// file is replaced only with `replace`.
bool SaveEditedPicture(const editor::Picture& flat, const std::wstring& path, bool replace, std::wstring& problem);
