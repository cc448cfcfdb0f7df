#include "catalogue/types.h"

namespace bv {

const std::array<CategoryInfo, kPhoneCategoryCount>& Categories() {
  static const std::array<CategoryInfo, kPhoneCategoryCount> table = {{
      {Category::CameraRoll, "Camera Roll", "OptCameraRoll", "Camera Roll (0)"},
      {Category::PhotoStream, "Photo Stream", "OptPhotoStream", "Photo Stream (0)"},
      {Category::AppPhotos, "App Photos", "OptAppPhotos", "App Photos (0)"},
      {Category::AppVideos, "App Videos", "OptAppVideos", "App Videos (0)"},
      {Category::Messages, "Messages", "OptMessages", "Messages (0)"},
      {Category::MessageAttachments, "Message attachments", "OptMessageAtts",
       "Messages Attachments (0)"},
      {Category::Contacts, "Contacts", "OptContacts", "Contacts (0)"},
      {Category::CallHistory, "Call History", "OptCallHistory", "Call History (0)"},
      {Category::Notes, "Notes", "OptNotes", "Notes (0)"},
      {Category::WhatsApp, "WhatsApp", "WhatsApp", "WhatsApp (0)"},
      {Category::WhatsAppAttachments, "WhatsApp attachments", "OptWhatsAppAtts",
       "WhatsApp Attachments (0)"},
      {Category::Reminder, "Reminder", "OptReminder", "Reminder (0)"},
      {Category::Calendar, "Calendar", "OptCalendar", "Calendar (0)"},
      {Category::SafariBookmark, "Safari Bookmark", "SafariBookmark", "Safari Bookmark (0)"},
  }};
  return table;
}

const CategoryInfo& CategoryOf(Category c) {
  static const CategoryInfo weChat{Category::WeChat, "WeChat", "", "WeChat (0)"};
  static const CategoryInfo qq{Category::QQ, "QQ", "", "QQ (0)"};
  if (c == Category::WeChat) return weChat;
  if (c == Category::QQ) return qq;
  return Categories()[static_cast<int>(c)];
}

}  // namespace bv
