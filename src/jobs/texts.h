#pragma once

// The program's own texts, byte for byte (UTF-8).
namespace dravelkent::texts {

inline constexpr char kBasicSection[] = "基本";
inline constexpr char kJobSection[] = "設定";
inline constexpr char kHiddenSection[] = "裏設定";

inline constexpr char kView[] = "VIEW";
inline constexpr char kBackup[] = "BACKUP";
inline constexpr char kMessage[] = "MESSAGE";
inline constexpr char kTimestamp[] = "TIMESTAMP";

inline constexpr char kDirNameFrom[] = "DIRNAMEFROM";
inline constexpr char kDirNameTo[] = "DIRNAMETO";
inline constexpr char kFileName[] = "FILENAME";
inline constexpr char kKind[] = "KIND";
inline constexpr char kDeleteDay[] = "DELETEDAY";
inline constexpr char kDeleteAll[] = "DELETEALL";

inline constexpr char kOn[] = "On";
inline constexpr char kOff[] = "Off";
inline constexpr char kForcedTimestamp[] = "00000000";

inline constexpr char kStartStatus[] =
    "INIファイルに設定されている処理を実行します";
inline constexpr char kJobDone[] = "全ての処理が終了しました";
inline constexpr char kRunDone[] = "完了しました。";

// Formats for FormatText; each "%s" is the text named beside it.
inline constexpr char kCopyingFile[] = "%s.%s をコピー中";  // name, kind
inline constexpr char kMovingFile[] = "%s.%s を移動中";     // name, kind
inline constexpr char kFileNotNewer[] = "%s.%s は更新されていません";
inline constexpr char kFailed[] = "%sの処理に失敗しました";  // source path
// A tree's failures: source folder, count; then "：" and the first few,
// each after kTreeFailedSeparator, and kTreeFailedMore (the rest's count).
inline constexpr char kTreeFailed[] = "%sの処理に失敗しました（%s件）";
inline constexpr char kTreeFailedSeparator[] = " / ";
inline constexpr char kTreeFailedMore[] = "ほか%s件";
inline constexpr char kDeleting[] = "%s 削除中";         // full path
inline constexpr char kTreeCopying[] = "%s をコピー中";  // entry name
inline constexpr char kTreeNotNewer[] = "%s は更新されていません";
inline constexpr char kTreeMoving[] = "%s を移動中";

}  // namespace dravelkent::texts
