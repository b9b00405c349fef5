#pragma once

// Texts of the dialogs, byte for byte (UTF-8); the texts the run shows come
// from the program through the module's entry point.
namespace dravelkent::texts {

inline constexpr char kDialogCaption[] = "Dravelkent";
inline constexpr char kAboutMenuEntry[] = "Dravelkent のﾊﾞｰｼﾞｮﾝ情報(&A)...";
inline constexpr char kAboutCaption[] = "Dravelkentのﾊﾞｰｼﾞｮﾝ情報";
inline constexpr char kAboutNotice[] = "毎日のファイル移動と整理";
inline constexpr char kAboutOk[] = "OK";
inline constexpr char kMessageOk[] = "OK";
inline constexpr char kMessageCaption[] = "確認";
inline constexpr char kRunButton[] = "実行";
inline constexpr char kCloseButton[] = "閉じる";

}  // namespace dravelkent::texts
