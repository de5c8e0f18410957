// Process entry: hands the command line to the platform's main loop, which loads the main
// interface file and creates the application delegate it names.
#include "Classes/TrembitAppDelegate.h"
#include "platform/app/ApplicationMain.h"

int main(int argc, char** argv) {
    const platform::DelegateRegistry delegates{
        {"TrembitAppDelegate", [] { return std::make_shared<TrembitAppDelegate>(); }},
    };
    return platform::ApplicationMain(argc, argv, delegates);
}
