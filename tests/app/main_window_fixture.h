// The main window's tests build the program's windows when a test asks, after it has written
// the settings file.
#pragma once

#include "app/Unit1.h"
#include "platform/globals.h"
#include "tests/support/program_fixture.h"

#include <QTest>

class MainWindowTest : public pixmoor::test::ProgramTest {
protected:
    TForm1* create() { return createWindows(); }
};
