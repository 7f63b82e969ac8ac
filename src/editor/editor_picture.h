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

// Reads a picture file (PNG, or any format WIC reads) as B8G8R8A8; false with
// the sentence when it cannot.
bool LoadPicture(const std::wstring& path, editor::Picture& picture, std::wstring& problem);

// The face and size a text shape of that stroke width is drawn in.
std::unique_ptr<Gdiplus::Font> TextFont(int32_t strokeWidth);

// Draws `shapes` (picture coordinates) with `graphics`, whose transform maps
// the picture to its target.
void DrawShapes(Gdiplus::Graphics& graphics, const std::vector<editor::Shape>& shapes);
void DrawShape(Gdiplus::Graphics& graphics, const editor::Shape& shape);

// The picture as it will be saved: the shapes drawn into a copy of the base.
editor::Picture Flatten(const editor::Document& document);
