#pragma once

// Binding the library to its host application.

class ITalvenApplication;

// Binds the library to `application` (not owned; it must live as long as the library is used).
// Until then the library's own registry has no files: reads give their defaults and writes
// fail. A null pointer unbinds it again.
void InitVxcoreDLL(ITalvenApplication* application);

namespace core {

// The application given to InitVxcoreDLL, or null.
ITalvenApplication* GetTalvenApplication();

}  // namespace core
