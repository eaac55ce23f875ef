#include "winmm/errors.h"

namespace winmm {
namespace {

struct Entry {
  MCIERROR error;
  const char* text;
};

// Every text fits a reply buffer of 81 characters.
constexpr Entry kTexts[] = {
    {MCIERR_INVALID_DEVICE_ID, "The device identifier is not valid."},
    {MCIERR_UNRECOGNIZED_KEYWORD,
     "A keyword of the command is not recognised."},
    {MCIERR_UNRECOGNIZED_COMMAND, "The command is not recognised."},
    {MCIERR_HARDWARE, "The device has a hardware problem."},
    {MCIERR_INVALID_DEVICE_NAME,
     "The device is not open or its name is not known."},
    {MCIERR_OUT_OF_MEMORY, "There is not enough memory for the command."},
    {MCIERR_DEVICE_OPEN, "The device is already open under this name."},
    {MCIERR_CANNOT_LOAD_DRIVER, "The device driver cannot be loaded."},
    {MCIERR_MISSING_COMMAND_STRING, "The command string is empty."},
    {MCIERR_PARAM_OVERFLOW, "The reply does not fit the reply buffer."},
    {MCIERR_MISSING_STRING_ARGUMENT, "A keyword is missing its value."},
    {MCIERR_BAD_INTEGER, "A number in the command is not valid."},
    {MCIERR_PARSER_INTERNAL, "The command parser failed."},
    {MCIERR_DRIVER_INTERNAL, "The device driver failed."},
    {MCIERR_MISSING_PARAMETER, "The command is missing a parameter."},
    {MCIERR_UNSUPPORTED_FUNCTION, "The device does not support this command."},
    {MCIERR_FILE_NOT_FOUND, "The file cannot be found."},
    {MCIERR_DEVICE_NOT_READY, "The device is not ready."},
    {MCIERR_INTERNAL, "The media-control service failed."},
    {MCIERR_DRIVER, "The device driver reported an error."},
    {MCIERR_CANNOT_USE_ALL, "\"all\" cannot be used with this command."},
    {MCIERR_MULTIPLE, "Errors occurred on more than one device."},
    {MCIERR_EXTENSION_NOT_FOUND, "No device type is known for this file name."},
    {MCIERR_OUTOFRANGE, "The value is out of range."},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "The keywords cannot be used together."},
    {MCIERR_FILE_NOT_SAVED, "The file was not saved."},
    {MCIERR_DEVICE_TYPE_REQUIRED, "The command needs a device type."},
    {MCIERR_DEVICE_LOCKED, "The device is locked."},
    {MCIERR_DUPLICATE_ALIAS, "The alias is already in use."},
    {MCIERR_BAD_CONSTANT, "A value of the command is not valid."},
    {MCIERR_MUST_USE_SHAREABLE, "The device is in use."},
    {MCIERR_MISSING_DEVICE_NAME, "The command names no device."},
    {MCIERR_BAD_TIME_FORMAT, "The time format is not valid."},
    {MCIERR_NO_CLOSING_QUOTE, "A quoted word has no closing quote."},
    {MCIERR_DUPLICATE_FLAGS, "A keyword is given twice."},
    {MCIERR_INVALID_FILE, "The file is not one the device can play."},
    {MCIERR_NULL_PARAMETER_BLOCK, "A required parameter is missing."},
    {MCIERR_UNNAMED_RESOURCE, "The device has no name."},
    {MCIERR_NEW_REQUIRES_ALIAS, "A new element needs an alias."},
    {MCIERR_NOTIFY_ON_AUTO_OPEN,
     "Notification cannot be asked of this command."},
    {MCIERR_NO_ELEMENT_ALLOWED, "The device takes no file name."},
    {MCIERR_NONAPPLICABLE_FUNCTION, "The command does not apply now."},
    {MCIERR_ILLEGAL_FOR_AUTO_OPEN,
     "The command cannot open a device by itself."},
    {MCIERR_FILENAME_REQUIRED, "The device needs a file name."},
    {MCIERR_EXTRA_CHARACTERS, "The command has words left over."},
    {MCIERR_DEVICE_NOT_INSTALLED, "The device type is not installed."},
    {MCIERR_NO_INTEGER, "The command needs a number."},
    {MCIERR_FILE_READ, "The file cannot be read."},
};

}  // namespace

std::string_view ErrorText(MCIERROR error) {
  for (const Entry& e : kTexts)
    if (e.error == error) return e.text;
  return {};
}

}  // namespace winmm
