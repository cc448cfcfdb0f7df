#include "catalogue/types.h"

namespace bv {

const std::array<CategoryInfo, kCategoryCount>& Categories() {
  static const std::array<CategoryInfo, kCategoryCount> table = {{
      {Category::CameraRoll, "Camera Roll", "OptCameraRoll", L"Camera Roll (0)"},
      {Category::PhotoStream, "Photo Stream", "OptPhotoStream", L"Photo Stream (0)"},
      {Category::AppPhotos, "App Photos", "OptAppPhotos", L"App Photos (0)"},
      {Category::AppVideos, "App Videos", "OptAppVideos", L"App Videos (0)"},
      {Category::Messages, "Messages", "OptMessages", L"Messages (0)"},
      {Category::MessageAttachments, "Message attachments", "OptMessageAtts",
       L"Messages Attachments (0)"},
      {Category::Contacts, "Contacts", "OptContacts", L"Contacts (0)"},
      {Category::CallHistory, "Call History", "OptCallHistory", L"Call History (0)"},
      {Category::Notes, "Notes", "OptNotes", L"Notes (0)"},
      {Category::WhatsApp, "WhatsApp", "WhatsApp", L"WhatsApp (0)"},
      {Category::WhatsAppAttachments, "WhatsApp attachments", "OptWhatsAppAtts",
       L"WhatsApp Attachments (0)"},
      {Category::Reminder, "Reminder", "OptReminder", L"Reminder (0)"},
      {Category::Calendar, "Calendar", "OptCalendar", L"Calendar (0)"},
      {Category::SafariBookmark, "Safari Bookmark", "SafariBookmark", L"Safari Bookmark (0)"},
  }};
  return table;
}

const CategoryInfo& CategoryOf(Category c) {
  return Categories()[static_cast<int>(c)];
}

}  // namespace bv
