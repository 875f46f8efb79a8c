// Deterministic bytes to stand for a firmware file's contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// `count` bytes from a small linear congruential generator started at `seed`; different seeds
// give different files.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint8_t seed = 1);
