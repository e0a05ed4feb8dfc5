// What the user reads: the prompts and the settings file's lines, in Shift_JIS
// (code page 932) as the ANSI message box and the file take them.
#pragma once

extern const char kSettingsCaption[];
extern const char kPolarityPrompt[];
extern const char kPinPrompt[];
// The English rendering of each prompt, in ASCII.
extern const char kPolarityPromptEnglish[];
extern const char kPinPromptEnglish[];
// printf formats of the file's two lines, each taking one int.
extern const char kRevLineFormat[];
extern const char kPinLineFormat[];
