// Loads a handheld program or library from the very bytes of its file in the
// handheld's file store: the bytes go into an anonymous memory file that is
// loaded as a shared object of its own, so every handheld (and every new
// copy of a file) gets its own instance with its own globals. The program's
// references to the core library are bound to this library when it loads.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace nuva::sim {

// Whether `bytes` are a whole program the loader may map: a 64-bit
// little-endian ELF file whose program headers, and every segment they
// place, lie inside the bytes. The loader maps segments straight from the
// file; one cut short would be touched past its end and end the whole
// process (SIGBUS) instead of failing to load. False with `error` saying
// what is missing.
bool IsWholeProgram(std::span<const uint8_t> bytes, std::string& error);

class LoadedModule {
  public:
    LoadedModule() = default;
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    LoadedModule(LoadedModule&& other) noexcept;
    LoadedModule& operator=(LoadedModule&& other) noexcept;

    // Loads `bytes` under the display name `name`. False with `error` filled
    // when the bytes do not load (a damaged or foreign file).
    bool Load(std::span<const uint8_t> bytes, const std::string& name, std::string& error);
    // The address of an exported symbol, or nullptr.
    void* Symbol(const char* name) const;
    bool Loaded() const { return handle_ != nullptr; }
    void* Handle() const { return handle_; }
    void Unload();

  private:
    void* handle_ = nullptr;
    int fd_ = -1;
};

}  // namespace nuva::sim
