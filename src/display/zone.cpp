#include "display/zone.h"

#include <cmath>
#include <cstring>

#include "core/errors.h"
#include "core/group.h"
#include "core/memory.h"

namespace {

constexpr uint32_t kRectBytes = sizeof(Rect);
static_assert(kRectBytes == 32);

GroupRecord* zone_record(Handle zone) {
  GroupRecord* record = obj_get<GroupRecord>(TYPE_GROUP, zone);
  if (record == nullptr) g_error = ERR_OBJECT;
  return record;
}

Rect* zone_rects(GroupRecord* zone) { return reinterpret_cast<Rect*>(zone->array.entries); }
uint32_t zone_size(const GroupRecord* zone) { return zone->array.bytes / kRectBytes; }

// Appends a rectangle; the zone keeps what it had when memory fails.
bool append(GroupRecord* zone, const Rect& rect) {
  uint32_t bytes = zone->array.bytes + kRectBytes;
  if (zone->array.entries == nullptr || sarray_capacity(zone->array.bytes) < bytes) {
    uint8_t* grown = zone->array.entries;
    if (mem_realloc(&grown, sarray_capacity(bytes)) == nullptr) {
      g_error = ERR_MEMORY;
      return false;
    }
    zone->array.entries = grown;
  }
  std::memcpy(zone->array.entries + zone->array.bytes, &rect, kRectBytes);
  zone->array.bytes = bytes;
  return true;
}

void remove_at(GroupRecord* zone, uint32_t index) {
  uint32_t n = zone_size(zone);
  Rect* rects = zone_rects(zone);
  std::memmove(rects + index, rects + index + 1, (n - index - 1) * kRectBytes);
  zone->array.bytes -= kRectBytes;
}

}  // namespace

void zone_create(Handle owner, Handle* zone) {
  GroupRecord* record;
  obj_create(TYPE_GROUP, zone, &record);
  if (record != nullptr) record->handle = owner;
}

void zone_add(Handle zone, const Rect& rect) {
  GroupRecord* record = zone_record(zone);
  if (record != nullptr) append(record, rect);
}

void zone_subtract(Handle zone, const Rect& cut) {
  GroupRecord* record = zone_record(zone);
  if (record == nullptr) return;
  uint32_t visit = zone_size(record);
  uint32_t i = 0;
  while (i < visit) {
    Rect r = zone_rects(record)[i];
    if (!(cut.x_min < r.x_max && cut.x_max > r.x_min && cut.y_min < r.y_max && cut.y_max > r.y_min)) {
      ++i;
      continue;
    }
    // The pieces of r outside the cut go to the end; they are not visited again.
    if (r.y_min < cut.y_min && !append(record, Rect{r.x_min, r.y_min, r.x_max, cut.y_min})) return;
    if (r.y_max > cut.y_max && !append(record, Rect{r.x_min, cut.y_max, r.x_max, r.y_max})) return;
    double band_top = r.y_min > cut.y_min ? r.y_min : cut.y_min;
    double band_bottom = r.y_max < cut.y_max ? r.y_max : cut.y_max;
    if (band_top < band_bottom) {
      if (r.x_min < cut.x_min && !append(record, Rect{r.x_min, band_top, cut.x_min, band_bottom})) return;
      if (r.x_max > cut.x_max && !append(record, Rect{cut.x_max, band_top, r.x_max, band_bottom})) return;
    }
    remove_at(record, i);
    --visit;
  }
}

void zone_clip(Handle zone, const Rect& clip) {
  GroupRecord* record = zone_record(zone);
  if (record == nullptr) return;
  uint32_t i = 0;
  while (i < zone_size(record)) {
    Rect& r = zone_rects(record)[i];
    r.x_min = r.x_min > clip.x_min ? r.x_min : clip.x_min;
    r.y_min = r.y_min > clip.y_min ? r.y_min : clip.y_min;
    r.x_max = r.x_max < clip.x_max ? r.x_max : clip.x_max;
    r.y_max = r.y_max < clip.y_max ? r.y_max : clip.y_max;
    if (r.x_min >= r.x_max || r.y_min >= r.y_max) remove_at(record, i);
    else ++i;
  }
}

void zone_clear(Handle zone) {
  GroupRecord* record = zone_record(zone);
  if (record == nullptr) return;
  mem_free(&record->array.entries);
  record->array.bytes = 0;
}

int zone_first(Handle zone, Rect** rect) {
  *rect = nullptr;
  GroupRecord* record = zone_record(zone);
  if (record == nullptr || zone_size(record) == 0) return 0;
  *rect = zone_rects(record);
  return 1;
}

void zone_destroy(Handle zone) {
  if (zone == 0) return;
  obj_destroy(TYPE_GROUP, zone);  // releases the rectangles too
}

int32_t zone_count(Handle zone) {
  GroupRecord* record = zone_record(zone);
  return record != nullptr ? static_cast<int32_t>(zone_size(record)) : 0;
}

int rect_intersect(const Rect& a, const Rect& b, Rect* out) {
  if (!(a.x_min < b.x_max && a.x_max > b.x_min && a.y_min < b.y_max && a.y_max > b.y_min)) return 0;
  *out = Rect{a.x_min > b.x_min ? a.x_min : b.x_min, a.y_min > b.y_min ? a.y_min : b.y_min,
              a.x_max < b.x_max ? a.x_max : b.x_max, a.y_max < b.y_max ? a.y_max : b.y_max};
  return 1;
}

void zone_drop_first(Handle zone) {
  GroupRecord* record = zone_record(zone);
  if (record != nullptr && zone_size(record) > 0) remove_at(record, 0);
}
