// The program's set-up, shared by main() and the tests: the application's title and help file,
// and every window created once in its fixed order.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace pixmoor {

// Sets the application's title and the name of its help document.
void setUpApplication();

// Every window of the program, created in order and reachable through its global (Form1,
// Form2, ...); the main window comes first, so the restored thumbnail size is known to the
// windows created after it. Destroying it destroys the later windows first (they may refer to
// the main window) and clears the globals.
class ProgramForms {
public:
    ProgramForms();
    ~ProgramForms();
    ProgramForms(const ProgramForms&) = delete;
    ProgramForms& operator=(const ProgramForms&) = delete;

private:
    std::vector<std::unique_ptr<QWidget>> windows_;
    std::vector<std::function<void()>> clearGlobals_;
};

} // namespace pixmoor
