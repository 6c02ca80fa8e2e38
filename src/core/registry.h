// The typed handle registry: every object is created, found, copied and destroyed by a type
// number (below 200) and a handle. Handles come from one counter for all types, start at 2
// and are never reused. Objects are zero-filled at creation and begin with their own handle.
#pragma once
#include <cstdint>
#include <type_traits>

#include "core/errors.h"

using Handle = uint32_t;

constexpr int32_t kTypeCount = 200;

enum ObjectType : int32_t {
  TYPE_IMAGE = 1,
  TYPE_WINDOW = 31,
  TYPE_VIEW = 32,
  TYPE_SCENE = 33,
  TYPE_LAYER = 34,
  TYPE_GROUP = 35,  // groups, extent lists, text objects, pixel blocks, update zones
  TYPE_DISPLAY_LIST = 36,
  TYPE_LAYER_LINK = 37,
  TYPE_FILE_DESCRIPTOR = 38,
  TYPE_FRAME_CONTROL = 39,
  TYPE_GEOREF = 45,
  TYPE_ERROR_DISPLAY = 80,
};

// One registry entry: the handle (sort key), a word the registry keeps at 0, the object.
struct RegistryEntry {
  Handle handle;
  uint32_t aux;
  void* object;
};

// Releases what an object of a type owns beyond its own block, before the block goes.
using ObjectRelease = void (*)(void* object);

void obj_registry_init();
void obj_register_type(int32_t type, int32_t size, ObjectRelease release = nullptr);
int32_t obj_type_size(int32_t type);
void obj_create(int32_t type, Handle* handle, void** ptr);
void obj_create_with_handle(int32_t type, Handle handle, void** ptr);
void obj_get(int32_t type, Handle handle, void** ptr);
void obj_destroy(int32_t type, Handle handle);
void obj_copy(int32_t type, Handle src, Handle dst);
void obj_next(int32_t type, Handle* handle, void** ptr);
Handle obj_new_handle();
// Sets the last handle given out (tests of counter exhaustion use it).
void obj_set_last_handle(Handle handle);

// Registered records are copied byte-wise by obj_copy and zero-filled at creation.
template <class T>
constexpr bool kRegistryRecord = std::is_trivially_copyable_v<T> && std::is_standard_layout_v<T>;

template <class T>
T* obj_get(int32_t type, Handle handle) {
  void* p = nullptr;
  obj_get(type, handle, &p);
  return static_cast<T*>(p);
}
// The object, or null with g_error set to ERR_OBJECT when the handle names none.
template <class T>
T* obj_require(int32_t type, Handle handle) {
  T* p = obj_get<T>(type, handle);
  if (p == nullptr) g_error = ERR_OBJECT;
  return p;
}
template <class T>
void obj_create(int32_t type, Handle* handle, T** ptr) {
  static_assert(kRegistryRecord<T>);
  void* p = nullptr;
  obj_create(type, handle, &p);
  *ptr = static_cast<T*>(p);
}
template <class T>
void obj_next(int32_t type, Handle* handle, T** ptr) {
  void* p = nullptr;
  obj_next(type, handle, &p);
  *ptr = static_cast<T*>(p);
}
