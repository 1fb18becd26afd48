#include "app/Options.h"

#include "app/Role.h"

namespace tandor {

CommandLineOptions ParseOptions(int argc, const char* const* argv) {
  CommandLineOptions options;
  if (argc < 2 || argv[1][0] != '-') {
    options.ArgumentText = ArgumentText(argc, argv);
    return options;
  }
  const std::string option = argv[1];
  if (option == "--help" || option == "-h") {
    options.What = CommandLineOptions::Action::Help;
  } else if (option == "--version") {
    options.What = CommandLineOptions::Action::Version;
  } else if (option == "--wait" && argc >= 3 && argv[2][0] != '-' && argv[2][0] != '\0') {
    options.Wait = true;
    options.ArgumentText = ArgumentText(argc - 1, argv + 1);
  } else {
    options.What = CommandLineOptions::Action::Usage;
    options.Problem =
        option == "--wait" ? "--wait needs a product name" : "unknown option " + option;
  }
  return options;
}

std::string UsageText() {
  return R"(Usage: Tandor <product>           bring <product> up to date and start it
       Tandor --wait <product>    the same, and wait for the update; its status is returned
       Tandor '$Version'          the publisher window: edit, save and upload a manifest
       Tandor '$NET'              show this machine's IP and MAC addresses
       Tandor --help | --version

The launcher copies itself to Tandor<product> (the working copy), starts it and ends with 0;
with --wait it ends with the working copy's status:
  0   the update completed and nothing failed
  1   an entry failed, or EXIT was pressed
  2   the server or the product's manifest could not be reached
  3   refused: a program of an entry was still open
  4   the manifest was not trusted (with a manifest key: no signature, one by no trusted
      key, an older Serial=, another product's manifest, or one past its Expires=);
      nothing was decided
  5   rolled back: the release's final program failed within the manifest's Verify=
      seconds; the files and record it replaced were put back, and it is refused
  64  usage error
  69  a window is needed but cannot be shown: the Qt libraries cannot be loaded, or
      (the publisher window) there is no display or TANDOR_UNATTENDED=1
  73  the prefix or the application folder cannot be created
  75  (--wait) this product's update is already running

Environment:
  TANDOR_PREFIX      the folder holding drive C: and registry.ini
                     (default $XDG_DATA_HOME/tandor, else ~/.local/share/tandor)
  TANDOR_UNATTENDED  1: no windows; message boxes take their default answer and print to
                     standard error, list lines print to standard output; the publisher
                     window does not start (status 69)
  DISPLAY, WAYLAND_DISPLAY
                     the window system; without a usable one the run is unattended

Settings are read from Tandor.ini in the application folder (the launcher's folder; when that
is not writable, drive_c/Tandor in the prefix, whose Tandor.ini comes from the launcher's
folder or from /etc/tandor/Tandor.ini the first time).
The log of the latest update is Err.log in the application folder.
)";
}

}  // namespace tandor
