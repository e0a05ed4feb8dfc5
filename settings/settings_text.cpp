// Kept readable here; the build compiles this file with -fexec-charset=CP932
// (cmake/Charset.cmake), so the strings below are Shift_JIS in the binary.
#include "settings/settings_text.h"

static_assert(sizeof("表") == 3, "settings texts must be compiled to code page 932");

const char kSettingsCaption[] = "TARVOKEY専用EXTFSK設定";

const char kPolarityPrompt[] =
    "RTTY の FSK 極性をリバース (反転) に設定しますか?\n"
    "\n"
    "TARVOKEY の FSK 出力は「キーショートでマーク」「キーオープンでスペース」\n"
    "となるように設計されています。反転させるには「はい」を選択してください。\n"
    "\n"
    "はい: リバース設定 (キーショートでスペース、キーオープンでマーク)\n"
    "いいえ: ノーマル設定 (キーショートでマーク、キーオープンでスペース)\n"
    "\n"
    "「はい」または「いいえ」を押すと設定が記録されます (次回からは表示しません)。\n"
    "設定を変更するには MMTTY.EXE と同じフォルダにある tarvokey.ini を編集してください。";

const char kPinPrompt[] =
    "RTTY の FSK 信号を出力するピンを 1->3 番ピンに変更しますか?\n"
    "\n"
    "「はい」で TARVOKEY Gen.3 用の設定 (3 番ピン)\n"
    "「いいえ」で通常の TARVOKEY 用の設定 (1 番ピン)\n"
    "\n"
    "「はい」または「いいえ」を押すと設定が記録されます (次回からは表示しません)。\n"
    "設定を変更するには MMTTY.EXE と同じフォルダにある tarvokey.ini を編集してください。";

// Shown under the Japanese where the system's code page is not 932, for an
// operator who cannot read it: a wrong answer keys inverted RTTY or the wrong
// pin. Plain ASCII, which every code page reads alike.
const char kPolarityPromptEnglish[] =
    "Set the RTTY FSK polarity to reverse?\n"
    "Yes: reverse (key shorted = space, key open = mark)\n"
    "No: normal, as the TARVOKEY is designed (key shorted = mark, key open = space)\n"
    "Yes or No is saved and not asked again. To change it, edit tarvokey.ini in the folder of "
    "MMTTY.EXE.";

const char kPinPromptEnglish[] =
    "Move the RTTY FSK output from pin 1 to pin 3?\n"
    "Yes: for the TARVOKEY Gen.3 (pin 3)\n"
    "No: for the ordinary TARVOKEY (pin 1)\n"
    "Yes or No is saved and not asked again. To change it, edit tarvokey.ini in the folder of "
    "MMTTY.EXE.";

// The file is written in binary mode with explicit CR LF, so every build puts
// the same bytes on disk as a Windows text-mode write would.
const char kRevLineFormat[] = "FskRev=%d // 0: ノーマル、1: リバース\r\n";
const char kPinLineFormat[] = "FskPin=%d // 1: TARVOKEY、3: TARVOKEY Gen.3\r\n";
