// SPDX-License-Identifier: GPL-3.0-or-later
// Which channel of a stereo (or wider) input the clock listens to: a receiver is often wired
// to one side of the line input only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

enum class ChannelChoice { Left, Right, Mix };

// "left", "right" or "mix".
inline std::optional<ChannelChoice> ChannelFromName(const std::string& name) {
  if (name == "left") return ChannelChoice::Left;
  if (name == "right") return ChannelChoice::Right;
  if (name == "mix") return ChannelChoice::Mix;
  return std::nullopt;
}

// One frame of `channels` interleaved samples reduced to the chosen channel. A mono input
// gives its one channel whatever the choice; "mix" averages the first two channels.
template <typename T>
inline T PickChannel(const T* frame, int channels, ChannelChoice choice) {
  if (channels < 2 || choice == ChannelChoice::Left) return frame[0];
  if (choice == ChannelChoice::Right) return frame[1];
  if constexpr (std::is_integral_v<T>)
    return static_cast<T>((static_cast<int32_t>(frame[0]) + static_cast<int32_t>(frame[1])) / 2);
  else
    return static_cast<T>((frame[0] + frame[1]) / 2);
}
