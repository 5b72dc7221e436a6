#include "logger/EventXMLLogTarget.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CStd/CheckedMutex.h"
#include "logger/LogFormat.h"
#include "logger/LogManager.h"

namespace Tarn::Logger {

namespace {

std::atomic<NativeEventCallback> gCallback{nullptr};
EventXMLLogTarget* gInstance = nullptr;
// Guards gInstance. Made on first use and never destroyed, so that DestroyInstance may run
// at any point of the process's exit.
CheckedMutex& InstanceLock()
{
    static CheckedMutex& lock = *new CheckedMutex(false);
    return lock;
}

void DestroyInstance()
{
    ScopedLock guard(InstanceLock());
    delete gInstance;  // removes itself from the log manager
    gInstance = nullptr;
}

// The document, grown in steps of 2048 bytes and always terminated.
class DocumentBuffer {
public:
    ~DocumentBuffer() { std::free(mData); }
    bool Append(const char* text)
    {
        const std::size_t n = std::strlen(text);
        if (mLength + n + 1 > mCapacity) {
            std::size_t capacity = mCapacity;
            while (mLength + n + 1 > capacity) capacity += 2048;
            auto* data = static_cast<char*>(std::realloc(mData, capacity));
            if (data == nullptr) return false;
            mData = data;
            mCapacity = capacity;
        }
        std::memcpy(mData + mLength, text, n + 1);
        mLength += n;
        return true;
    }
    const char* Text() const { return mData ? mData : ""; }

private:
    char* mData = nullptr;
    std::size_t mLength = 0;
    std::size_t mCapacity = 0;
};

}  // namespace

EventXMLLogTarget::EventXMLLogTarget() : LogTarget(&mSettings)
{
    mSettings.name = "EventXMLLogTarget";
    mSettings.level = 1;
    mSettings.format = "#M";
}

bool EventXMLLogTarget::Write(const LogRecord& record)
{
    char message[8192];
    FormatLine(message, sizeof(message), GetFormat(), &record);
    char tags[256];
    FormatTags(tags, sizeof(tags), record.tagsLow, record.tagsHigh);

    ScopedLock lock(Lock());
    DocumentBuffer document;
    const char* parts[] = {"<?xml version=\"1.0\"?>\n", "<Event>\n", "   <Name>Log</Name>\n", "   <Params>\n",
                           "      <Type>", GetSeverityName(record.severity), "</Type>\n", "      <Tags>", tags, "</Tags>\n",
                           "      <Message>", message, "</Message>\n", "   </Params>\n", "</Event>\n"};
    for (const char* part : parts)
        if (!document.Append(part)) return false;  // no memory: the event is dropped
    NativeEventCallback callback = gCallback.load();
    return callback != nullptr && callback(document.Text()) != 0;
}

void EventXMLLogTarget::EnableInstance()
{
    LogManager::GetOrCreate();
    ScopedLock guard(InstanceLock());
    if (gInstance == nullptr) {
        gInstance = new EventXMLLogTarget();
        std::atexit(DestroyInstance);
    }
    gInstance->Enable();
}

void EventXMLLogTarget::SetCallback(NativeEventCallback callback) { gCallback.store(callback); }

}  // namespace Tarn::Logger
