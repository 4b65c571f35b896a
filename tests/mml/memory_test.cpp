// Running out of memory inside a command ends the compilation with "メモリが足りません" instead of
// being taken for a failed command. This program replaces the global allocation functions so that a
// test can make every large request fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

#include "tests/support/compile_helper.h"

namespace {

enum class Failure { None, BadAlloc, LengthError };

// Requests of this size or more fail as `FailWith` says.
constexpr std::size_t kLargeRequest = 1 << 20;
Failure FailWith = Failure::None;

void* Allocate(std::size_t size) {
  if (size >= kLargeRequest) {
    if (FailWith == Failure::BadAlloc) throw std::bad_alloc();
    if (FailWith == Failure::LengthError) throw std::length_error("test: request too large");
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace mml_test {
namespace {

// A macro whose expansion needs more than a megabyte: the request for it fails.
std::string LargeExpansion() {
  std::string text = ":!m,[";
  for (int i = 0; i < 1000; ++i) text += "?1";
  return text + "]\n:1 c !m," + std::string(2000, 'r') + " d";
}

TEST(OutOfMemory, EndsTheCompilationLikeTheSixteenthError) {
  for (Failure failure : {Failure::BadAlloc, Failure::LengthError}) {
    FailWith = failure;
    Compiled r = Compile(LargeExpansion());
    FailWith = Failure::None;
    EXPECT_EQ(r.Raised, "メモリが足りません");
    ASSERT_EQ(r.Errors.size(), 1u);
    EXPECT_EQ(r.Errors[0].Message, "[Part:1]メモリが足りません");
  }
  Compiled r = Compile(LargeExpansion());
  EXPECT_EQ(r.Raised, "");
  EXPECT_TRUE(r.Errors.empty());
}

}  // namespace
}  // namespace mml_test
