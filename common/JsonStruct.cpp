#include "common/JsonStruct.h"

#include <cctype>

#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "http/Url.h"
#include "log/Log.h"

namespace {

constexpr size_t kPoolChunk = 1024;

bool IsMd5Text(const std::string& text) {
  if (text.size() != 32) return false;
  for (unsigned char c : text)
    if (!std::isxdigit(c)) return false;
  return true;
}

bool IsAbsoluteHttpUrl(const std::string& text) {
  if (text.empty() || text.size() > kMaxImageUrlBytes) return false;
  std::string lower = text.substr(0, 8);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.compare(0, 7, "http://") != 0 && lower.compare(0, 8, "https://") != 0) return false;
  HttpUrl url;
  return ParseHttpUrl(text, url);
}

const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  auto it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

}  // namespace

bool IJSONStruct::IsMemberWritten(const char* name) const {
  bool listed = m_setFilter.count(name) != 0;
  return m_nFilterMode == 1 ? listed : !listed;
}

rapidjson::Value IJSONStruct::String(const std::string& text) {
  return rapidjson::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), m_allocator);
}

rapidjson::Value CDownloaderGAJSONStruct::ToJson() {
  rapidjson::Value root(rapidjson::kObjectType);
  root.AddMember("client_id", String(m_pData->clientId), m_allocator);
  if (IsMemberWritten("user_properties")) {
    rapidjson::Value properties(rapidjson::kObjectType);
    if (IsMemberWritten("uid")) {
      rapidjson::Value uid(rapidjson::kObjectType);
      uid.AddMember("value", String(m_pData->userValue), m_allocator);
      properties.AddMember("uid", uid, m_allocator);
    }
    root.AddMember("user_properties", properties, m_allocator);
  }
  if (IsMemberWritten("events")) {
    rapidjson::Value events(rapidjson::kArrayType);
    for (const GAEventInfo& info : m_pData->events) {
      rapidjson::Value event(rapidjson::kObjectType);
      event.AddMember("name", String(info.name), m_allocator);
      if (IsMemberWritten("params")) {
        rapidjson::Value params(rapidjson::kObjectType);
        params.AddMember("event_category", String(info.category), m_allocator);
        params.AddMember("event_label", String(info.label), m_allocator);
        for (const GAEventParam& extra : info.extra) {
          rapidjson::Value value;
          if (extra.kind == GAEventParam::kNumber)
            value.SetInt64(extra.number);
          else if (extra.kind == GAEventParam::kFlag)
            value.SetBool(extra.flag);
          else
            value = String(extra.text);
          params.AddMember(String(extra.key), value, m_allocator);
        }
        event.AddMember("params", params, m_allocator);
      }
      events.PushBack(event, m_allocator);
    }
    root.AddMember("events", events, m_allocator);
  }
  return root;
}

GAEventInfo FailureEvent(const InstallFailureInfo& failure, const std::string& category,
                         const std::string& label) {
  auto text = [](const char* key, const std::string& value) {
    GAEventParam param;
    param.key = key;
    param.text = value;
    return param;
  };
  auto number = [](const char* key, int64_t value) {
    GAEventParam param;
    param.key = key;
    param.kind = GAEventParam::kNumber;
    param.number = value;
    return param;
  };
  GAEventParam proxy;
  proxy.key = "proxy";
  proxy.kind = GAEventParam::kFlag;
  proxy.flag = failure.proxyUsed;
  GAEventInfo event{"Downloader_Failed", category, label, {}};
  event.extra = {text("phase", failure.phase),
                 text("error_category", failure.errorCategory),
                 number("error_code", failure.errorCode),
                 number("bytes_done", failure.bytesDone),
                 number("bytes_total", failure.bytesTotal),
                 number("seconds", failure.seconds),
                 number("retries", failure.retries),
                 proxy};
  return event;
}

void ImageInfoJSONStruct::FromJson(const rapidjson::Value& value) {
  if (const rapidjson::Value* url = Member(value, "url"); url && url->IsString()) {
    std::string text(url->GetString(), url->GetStringLength());
    if (IsAbsoluteHttpUrl(text))
      m_pData->url = text;
    else
      LOGA(kLog_Info, "carousel image url refused (not an http(s) address of at most %u bytes)",
           static_cast<unsigned>(kMaxImageUrlBytes));
  }
  if (const rapidjson::Value* md5 = Member(value, "md5"); md5 && md5->IsString()) {
    std::string text(md5->GetString(), md5->GetStringLength());
    if (IsMd5Text(text))
      m_pData->md5 = text;
    else
      LOGA(kLog_Info, "carousel image md5 refused (not 32 hex digits)");
  }
}

void ImageConfigInfoJSONStruct::FromJson(const rapidjson::Value& value) {
  const rapidjson::Value* list = Member(value, "list");
  if (!list || !list->IsArray()) return;
  if (list->Size() > kMaxCarouselImages)
    LOGA(kLog_Info, "carousel list has %u images, keeping the first %u", list->Size(),
         static_cast<unsigned>(kMaxCarouselImages));
  for (const rapidjson::Value& element : list->GetArray()) {
    if (m_pData->size() >= kMaxCarouselImages) break;
    ImageInfo info;
    ImageInfoJSONStruct reader(m_allocator, &info);
    reader.FromJson(element);
    m_pData->push_back(std::move(info));
  }
}

std::string ToJsonString(IJSONStruct& converter, rapidjson::Document& document) {
  rapidjson::Value value = converter.ToJson();
  document.CopyFrom(value, document.GetAllocator());
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 4);
  document.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool ParseApiResponse(const std::string& text, ApiResult& result, std::vector<ImageInfo>& images) {
  if (text.size() > kMaxApiResponseBytes) {
    LOGA(kLog_Info, "carousel answer refused: %llu bytes exceed the limit of %u",
         static_cast<unsigned long long>(text.size()), static_cast<unsigned>(kMaxApiResponseBytes));
    return false;
  }
  JsonAllocator allocator(kPoolChunk);
  rapidjson::Document document(&allocator, kPoolChunk);
  // Iterative parsing keeps deeply nested input off the call stack.
  document.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag>(text.data(),
                                                                                           text.size());
  if (document.HasParseError()) {
    LOGA(kLog_Info, "carousel answer is no JSON: %s at offset %u",
         rapidjson::GetParseError_En(document.GetParseError()),
         static_cast<unsigned>(document.GetErrorOffset()));
    return false;
  }
  ApiResult parsed = result;
  std::vector<ImageInfo> list;
  if (const rapidjson::Value* code = Member(document, "code"); code && code->IsInt())
    parsed.code = code->GetInt();
  if (const rapidjson::Value* message = Member(document, "message"); message && message->IsString())
    parsed.message.assign(message->GetString(),
                          std::min<size_t>(message->GetStringLength(), kMaxApiMessageBytes));
  if (const rapidjson::Value* data = Member(document, "data"); data && data->IsObject()) {
    ImageConfigInfoJSONStruct reader(allocator, &list);
    reader.FromJson(*data);
  }
  result = parsed;
  images.insert(images.end(), list.begin(), list.end());
  return true;
}
