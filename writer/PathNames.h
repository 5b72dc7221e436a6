// Which names the writer puts into a layout: each name that becomes part of a disk path (a
// project or solution name, a directory or file name of a release) must be one plain path
// component on every platform a reader runs on, or readers refuse the manifest that holds it.
// Deliberately odd manifests for tests are made with BuildRawManifest instead.
#pragma once

#include <string>

namespace Tarn::VELL::Writer {

// Why name cannot be a path component, as a phrase ("is empty", "is a Windows device name",
// ...); empty when it can. Refused: the empty name, NUL, '/', '\' and ':', names that are
// empty once Windows strips their trailing dots and spaces (".", "..", ". ."), and the
// Windows device names CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the code page 1252
// superscripts 1-3), CONIN$ and CONOUT$, in any case and with any extension.
std::string PathComponentProblem(const std::string& name);

// Throws std::invalid_argument ("<what> \"<name>\" must be a single path component: it ...")
// when name cannot be a path component.
void RequirePathComponent(const std::string& name, const char* what);

// RequirePathComponent for a project or solution name, which also must not end in "VELL":
// readers take the content root to end at the last "VELL/" of a release's path, and in
// .../VELL/projects/xVELL/releases/... that is inside the project.
void RequireProjectName(const std::string& name, const char* what);

}  // namespace Tarn::VELL::Writer
