// The hub's messages (UTF-8), byte for byte as callers show them.
#pragma once

namespace portico::msgs {

inline constexpr char kNoReader[] = "未找到设备!";
inline constexpr char kNoFamily[] = "暂未发现该设备类型！";
inline constexpr char kIdStepFailed[] = "读取身份证失败!";       // USB-HID, steps before the read
inline constexpr char kIdReadFailed[] = "读取身份证信息失败!";   // USB-HID, the read step
inline constexpr char kVendorIdFailed[] = "身份证读取失败!";     // vendor SDK read or parse

}  // namespace portico::msgs
