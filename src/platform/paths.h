// Backslash keys and native paths: every conversion between them, and the
// path pieces written into documents.
//
// Keys and every text that clients read use '\' as separator and code-page
// text; native paths are absolute POSIX paths in UTF-8 with '/'. Nothing
// outside this file swaps separators.
//
// Thread safety: pure functions, except ResolveKeyPath, which lists folders
// through the FileSystem it is given (safe from any thread).
#pragma once

#include <string>
#include <string_view>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kKeySeparator = '\\';
inline constexpr char kNativeSeparator = '/';

// Separators swapped; nothing else changes ("Sport\img.jpg" <-> "Sport/img.jpg").
// Code-page text stays code-page text: see ResolveKeyPath for the UTF-8 name.
std::string KeyToNative(std::string_view key);
std::string NativeToKey(std::string_view native);

// folder + '/' + name, without doubling a '/' that ends `folder` or starts
// `name`; an empty side gives the other one.
std::string JoinNative(std::string_view folder, std::string_view name);
// a + '\' + b, always (the key format "%s\%s"; empty sides are kept).
std::string JoinKey(std::string_view a, std::string_view b);

// Path pieces of a full path, split at `sep`:
// LastComponent: the text after the last separator found at or left of the
//   second-to-last character; one trailing separator is dropped; a path
//   shorter than two characters is its own last component.
//   "/srv/Pictures/Sport/img.jpg" -> "img.jpg", "/srv/Sport/" -> "Sport".
// FolderPart: the text before the last separator found between the second
//   and the second-to-last character; empty when there is none.
//   "/srv/Pictures/Sport/img.jpg" -> "/srv/Pictures/Sport", "/img.jpg" -> "".
// FolderName: LastComponent(FolderPart(path)), "Sport" in the example.
// The results are views into `path`.
std::string_view LastComponent(std::string_view path, char sep = kNativeSeparator);
std::string_view FolderPart(std::string_view path, char sep = kNativeSeparator);
std::string_view FolderName(std::string_view path, char sep = kNativeSeparator);

// The key form of a native path, as a network path is written: leading '/'
// dropped, the other separators written as `sep`. KeyForm("/srv/images/sport")
// is "srv\images\sport"; KeyForm(p, '/') is "srv/images/sport".
std::string KeyForm(std::string_view native, char sep = kKeySeparator);

// The code-page key of a path relative to a root ("Sport/Café.jpg" ->
// "Sport\Caf\xE9.jpg"): each component through cp.FromUtf8, joined by '\'.
// `*lossy` is set when any component needs ResolveKeyPath to be found again.
std::string KeyFromNativeRelative(const CodePage& cp, std::string_view native_relative,
                                  bool* lossy = nullptr);

// The way back from a relative key (code-page text, '\' separators, no
// leading '\') to the real native path under `native_root`.
// When the key converts back to an existing path directly, that path is the
// answer. Otherwise the folders are listed from the root down, and the entry
// whose code-page form (CodePage::FromUtf8, with its '?' substitutions, Mac
// character restorations and compositions) equals the next part of the key is
// taken; a restored '\' inside a name is matched as part of that name. When
// several names have the same code-page form, the first one listed that leads
// to a complete match wins. Fails with kNotFound when nothing matches, and
// gives up (kNotFound) after listing 256 folders.
StatusOr<std::string> ResolveKeyPath(FileSystem* fs, const CodePage& cp,
                                     const std::string& native_root,
                                     std::string_view relative_key);

}  // namespace vantrel
