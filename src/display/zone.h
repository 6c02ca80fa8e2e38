// Update zones: lists of world rectangles that still have to be repainted, kept in insertion
// order and never merged. A zone is a type-35 object whose first word names its owner (a
// window or a display list) in place of its own handle.
#pragma once
#include <cstdint>

#include "core/rect.h"
#include "core/registry.h"

void zone_create(Handle owner, Handle* zone);
void zone_add(Handle zone, const Rect& rect);
void zone_subtract(Handle zone, const Rect& rect);
void zone_clip(Handle zone, const Rect& rect);
void zone_clear(Handle zone);
int zone_first(Handle zone, Rect** rect);  // 1 and the first rectangle, or 0 when empty
void zone_destroy(Handle zone);
int32_t zone_count(Handle zone);

// 1 and the overlap when the rectangles overlap (touching edges do not), else 0.
int rect_intersect(const Rect& a, const Rect& b, Rect* out);

// Removes the first rectangle (used to drop a degenerate one that subtraction cannot touch).
void zone_drop_first(Handle zone);
