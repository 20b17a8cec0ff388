// The allocation counter, in one of three ways, by build:
//
// - Natively: this executable defines malloc, calloc, realloc, free and the
//   aligned allocators itself, over glibc's own (__libc_malloc and the like).
//   The dynamic linker binds every module's calls to them, the loaded plug-in's
//   and glibc's own included, so an allocation made inside a library function
//   that the plug-in calls counts as well.
// - Under AddressSanitizer or ThreadSanitizer, which replace the allocator
//   themselves and cannot share it: the sanitizer's hook, called for every
//   allocation it serves (malloc, operator new and the rest).
// - Windows: a program cannot replace the C runtime's malloc for a DLL that
//   carries its own C++ runtime, as VESTRIX.DLL does; instead the import
//   tables of this program and of the modules named to CountAllocationsOf are
//   patched, so that their calls of the C runtime's and the system's heap
//   functions come here first. Allocations that Windows (or Wine) makes inside
//   its own functions are not seen; they are not the plug-in's doing.
//
// Everywhere but under the sanitizers, operator new and delete in every form
// are replaced too, by ones that take their memory from the counted malloc.
#include "tests/alloc/allocation_counter.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define COUNT_WITH_SANITIZER_HOOK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define COUNT_WITH_SANITIZER_HOOK 1
#endif
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_count{0};

void Note() {
  if (g_counting.load(std::memory_order_relaxed)) {
    g_count.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
#if defined(COUNT_WITH_SANITIZER_HOOK)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {

void MallocHook(const volatile void* /*memory*/, std::size_t /*size*/) {
  Note();
}
void FreeHook(const volatile void* /*memory*/) {}

[[maybe_unused]] const int kHookInstalled =
    __sanitizer_install_malloc_and_free_hooks(&MallocHook, &FreeHook);

}  // namespace

namespace testing_support {
bool CountAllocationsOf(const char* /*path*/) {
  return true;
}
const char* AllocationsSeen() {
  return "every allocation the sanitizer's allocator serves";
}
}  // namespace testing_support

// ---------------------------------------------------------------------------
#elif !defined(_WIN32)

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void __libc_free(void* memory);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) noexcept {
  Note();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  Note();
  return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) noexcept {
  Note();
  return __libc_realloc(memory, size);
}
void free(void* memory) noexcept {
  __libc_free(memory);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
  Note();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  Note();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** memory, std::size_t alignment, std::size_t size) noexcept {
  Note();
  *memory = __libc_memalign(alignment, size);
  return *memory != nullptr ? 0 : ENOMEM;
}
}  // extern "C"

namespace testing_support {
bool CountAllocationsOf(const char* /*path*/) {
  return true;
}
const char* AllocationsSeen() {
  return "malloc, calloc, realloc, the aligned allocators and operator new, from every module";
}
}  // namespace testing_support

// ---------------------------------------------------------------------------
#else

namespace {

using Generic = void (*)();

Generic g_malloc = nullptr;
Generic g_calloc = nullptr;
Generic g_realloc = nullptr;
Generic g_aligned_malloc = nullptr;
Generic g_aligned_realloc = nullptr;
Generic g_strdup = nullptr;
Generic g_heap_alloc = nullptr;
Generic g_heap_realloc = nullptr;

template <typename Function>
Function Original(Generic original) {
  return reinterpret_cast<Function>(original);
}

void* __cdecl CountedMalloc(std::size_t size) {
  Note();
  return Original<void*(__cdecl*)(std::size_t)>(g_malloc)(size);
}
void* __cdecl CountedCalloc(std::size_t count, std::size_t size) {
  Note();
  return Original<void*(__cdecl*)(std::size_t, std::size_t)>(g_calloc)(count, size);
}
void* __cdecl CountedRealloc(void* memory, std::size_t size) {
  Note();
  return Original<void*(__cdecl*)(void*, std::size_t)>(g_realloc)(memory, size);
}
void* __cdecl CountedAlignedMalloc(std::size_t size, std::size_t alignment) {
  Note();
  return Original<void*(__cdecl*)(std::size_t, std::size_t)>(g_aligned_malloc)(size, alignment);
}
void* __cdecl CountedAlignedRealloc(void* memory, std::size_t size, std::size_t alignment) {
  Note();
  return Original<void*(__cdecl*)(void*, std::size_t, std::size_t)>(g_aligned_realloc)(memory, size,
                                                                                       alignment);
}
char* __cdecl CountedStrdup(const char* text) {
  Note();
  return Original<char*(__cdecl*)(const char*)>(g_strdup)(text);
}
LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  Note();
  return Original<LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T)>(g_heap_alloc)(heap, flags, size);
}
LPVOID WINAPI CountedHeapReAlloc(HANDLE heap, DWORD flags, LPVOID memory, SIZE_T size) {
  Note();
  return Original<LPVOID(WINAPI*)(HANDLE, DWORD, LPVOID, SIZE_T)>(g_heap_realloc)(heap, flags,
                                                                                  memory, size);
}

struct Hook {
  const char* name;
  Generic replacement;
  Generic* original;
};

const Hook kHooks[] = {
    {"malloc", reinterpret_cast<Generic>(&CountedMalloc), &g_malloc},
    {"calloc", reinterpret_cast<Generic>(&CountedCalloc), &g_calloc},
    {"realloc", reinterpret_cast<Generic>(&CountedRealloc), &g_realloc},
    {"_aligned_malloc", reinterpret_cast<Generic>(&CountedAlignedMalloc), &g_aligned_malloc},
    {"_aligned_realloc", reinterpret_cast<Generic>(&CountedAlignedRealloc), &g_aligned_realloc},
    {"_strdup", reinterpret_cast<Generic>(&CountedStrdup), &g_strdup},
    {"HeapAlloc", reinterpret_cast<Generic>(&CountedHeapAlloc), &g_heap_alloc},
    {"HeapReAlloc", reinterpret_cast<Generic>(&CountedHeapReAlloc), &g_heap_realloc},
};

// Points the module's imported heap functions at the counting ones. An import
// that resolves to another function than the first module's (another C
// runtime) is left alone.
void PatchImports(HMODULE module) {
  auto* const base = reinterpret_cast<BYTE*>(module);
  const auto* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* const nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) {
    return;
  }
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    const DWORD lookup =
        library->OriginalFirstThunk != 0 ? library->OriginalFirstThunk : library->FirstThunk;
    const auto* name_entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + lookup);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; name_entry->u1.AddressOfData != 0; ++name_entry, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name_entry->u1.Ordinal)) {
        continue;
      }
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name_entry->u1.AddressOfData);
      for (const Hook& hook : kHooks) {
        const auto bound = reinterpret_cast<Generic>(slot->u1.Function);
        if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), hook.name) != 0 ||
            bound == hook.replacement || (*hook.original != nullptr && *hook.original != bound)) {
          continue;
        }
        *hook.original = bound;
        DWORD protection = 0;
        VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
        slot->u1.Function = reinterpret_cast<decltype(slot->u1.Function)>(hook.replacement);
        VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
      }
    }
  }
}

[[maybe_unused]] const bool kProgramPatched = (PatchImports(GetModuleHandleA(nullptr)), true);

}  // namespace

namespace testing_support {
bool CountAllocationsOf(const char* path) {
  const HMODULE module = GetModuleHandleA(path);
  if (module == nullptr) {
    return false;
  }
  PatchImports(module);
  return true;
}
const char* AllocationsSeen() {
  return "malloc, calloc, realloc, _aligned_malloc, _aligned_realloc, _strdup, HeapAlloc and "
         "HeapReAlloc called by the test program or the patched modules, and operator new";
}
}  // namespace testing_support

#endif

// ---------------------------------------------------------------------------
#if !defined(COUNT_WITH_SANITIZER_HOOK)

namespace {

void* Allocate(std::size_t size) noexcept {
  return std::malloc(size != 0 ? size : 1);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
#if defined(_WIN32)
  return _aligned_malloc(size != 0 ? size : 1, align);
#else
  void* memory = nullptr;
  return posix_memalign(&memory, align < sizeof(void*) ? sizeof(void*) : align,
                        size != 0 ? size : 1) == 0
             ? memory
             : nullptr;
#endif
}

void FreeAligned(void* memory) noexcept {
#if defined(_WIN32)
  _aligned_free(memory);
#else
  std::free(memory);
#endif
}

void* OrThrow(void* memory) {
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

}  // namespace

void* operator new(std::size_t size) {
  return OrThrow(Allocate(size));
}
void* operator new[](std::size_t size) {
  return OrThrow(Allocate(size));
}
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return OrThrow(AllocateAligned(size, alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return OrThrow(AllocateAligned(size, alignment));
}
void* operator new(std::size_t size, std::align_val_t alignment,
                   const std::nothrow_t& /*tag*/) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment,
                     const std::nothrow_t& /*tag*/) noexcept {
  return AllocateAligned(size, alignment);
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t& /*tag*/) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t& /*tag*/) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::align_val_t /*alignment*/) noexcept {
  FreeAligned(memory);
}
void operator delete[](void* memory, std::align_val_t /*alignment*/) noexcept {
  FreeAligned(memory);
}
void operator delete(void* memory, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept {
  FreeAligned(memory);
}
void operator delete[](void* memory, std::size_t /*size*/,
                       std::align_val_t /*alignment*/) noexcept {
  FreeAligned(memory);
}
void operator delete(void* memory, std::align_val_t /*alignment*/,
                     const std::nothrow_t& /*tag*/) noexcept {
  FreeAligned(memory);
}
void operator delete[](void* memory, std::align_val_t /*alignment*/,
                       const std::nothrow_t& /*tag*/) noexcept {
  FreeAligned(memory);
}

#endif

namespace testing_support {

void StartCountingAllocations() {
  g_count.store(0);
  g_counting.store(true);
}

std::size_t StopCountingAllocations() {
  g_counting.store(false);
  return g_count.load();
}

}  // namespace testing_support
