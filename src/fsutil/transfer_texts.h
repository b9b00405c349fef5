#pragma once

// The status texts of the folder tree transfer, byte for byte (UTF-8); "%s"
// is the entry's bare name.
namespace dravelkent::transfer_texts {

inline constexpr char kCopying[] = "%s をコピー中";
inline constexpr char kNotNewer[] = "%s は更新されていません";
inline constexpr char kMoving[] = "%s を移動中";

}  // namespace dravelkent::transfer_texts
