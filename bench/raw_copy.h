// The yardstick of the cable's benchmarks: bytes sent over a fresh unix
// socket pair, chunk by chunk, to a reader that keeps them, with nothing else
// on the way. A benchmark runs it beside what it measures, in the same run,
// so that a loaded machine slows both alike.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace nuva::bench {

// The next chunk to send: empty at the end, nullopt when the source failed.
using ChunkSource = std::function<std::optional<std::span<const uint8_t>>()>;

// Sends what `next` gives until it gives an empty chunk, expecting `total`
// bytes in all, which the reader keeps in `kept`. The time it took, or a
// negative time when the source, the socket or the count failed.
std::chrono::duration<double> RawSocketCopy(size_t total, const ChunkSource& next,
                                            std::vector<uint8_t>& kept);

// The floor of any exchange that waits for an answer to each chunk before
// sending the next, as a write through the cable does: the same chunks, each
// behind a frame header of `headerBytes`, over a fresh unix socket pair to a
// reader that keeps the bytes and answers each chunk with `answerBytes`
// before the next is sent. Nothing is decoded, checked or stored on either
// side: what it costs is the copies and the two wake-ups of each round trip.
// The time it took, or a negative time as for RawSocketCopy.
std::chrono::duration<double> RoundTripCopy(size_t total, size_t headerBytes, size_t answerBytes,
                                            const ChunkSource& next, std::vector<uint8_t>& kept);

// Runs `copy` (a raw copy, its time or a negative one when it broke) outside
// the timed part of `state`'s iteration and adds its time to `raw`. False,
// with the run skipped as broken, when the copy broke.
bool UntimedRawCopy(benchmark::State& state, const std::function<std::chrono::duration<double>()>& copy,
                    std::chrono::duration<double>& raw);

}  // namespace nuva::bench
