#pragma once

class QCommandLineParser;

// The program's command-line options. Their names, value names and descriptions are an external
// interface: scripts and the instances this program starts itself rely on them.
namespace CommandLineOptions {

inline constexpr char Update[] = "update";
inline constexpr char SettingsPath[] = "settings";
inline constexpr char LogFile[] = "logfile";
inline constexpr char BruteForce[] = "brute-force";
inline constexpr char PrintKeyBindings[] = "print-keybindings";
inline constexpr char Command[] = "command";
inline constexpr char CommandHelp[] = "command-help";
inline constexpr char Restore[] = "restore";

// Adds the options, the standard help and version options, the description and the positional
// "files" argument.
void declare(QCommandLineParser &parser);

} // namespace CommandLineOptions
