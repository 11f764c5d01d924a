// The adapter plug-in: its two exports, the lazy set-up inside the first call, the choice of
// the function that serves a call, and the built-in functions.
#include "AdapterProject/AdapterProject.h"

#include "AdapterProject/AdapterState.h"
#include "Component/SigningComponent.h"
#include "VelantoUtil/Adapter.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

const char kAdapterName[] = "KestovaCAPIATLAdapter";

char* answerSlot = nullptr;
bool initialised = false;
ISigningComponent* component = nullptr;
AdapterMap* registry = nullptr;
AdapterFunction* indexTable = nullptr;
int componentCount = 0;

void logBuild() {
    logNormal("Adatper compile date: ", __DATE__);
    logNormal("Adatper compile time: ", __TIME__);
}

void GetAdapterVersion(JsonMap*) {
    setAnswer(kAdapterVersion);
}

void UnlockAdapter(JsonMap*) {
    setAnswer("0");
}

void ReleaseAdapter(JsonMap*) {
    if (registry) {
        registry->count = 0;
        std::free(registry);
        registry = nullptr;
    }
    std::free(indexTable);
    indexTable = nullptr;
    componentCount = 0;
    clearAnswer();
    try {
        if (initialised) {
            if (!component) throwComError(E_POINTER);
            component->Release();
            component = nullptr;
            CoUninitialize();
            initialised = false;
        }
    } catch (const ComError&) {
        reportComponentError("VelantoRelease", __LINE__);
    }
    logNormal("VelantoRelease", "");
}

// Creates the component: CoCreateInstance for IUnknown, OleRun, then its interface.
ISigningComponent* createComponent() {
    IUnknown* unknown = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SigningComponent, nullptr, CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<void**>(&unknown))) ||
        !unknown)
        return nullptr;
    ISigningComponent* created = nullptr;
    if (FAILED(OleRun(unknown)) ||
        FAILED(unknown->QueryInterface(IID_ISigningComponent, reinterpret_cast<void**>(&created))))
        created = nullptr;
    unknown->Release();
    return created;
}

bool InitAdapter(JsonMap*) {
    if (initialised) return true;
    setLog(kAdapterName);
    logNormal("Init adapter: ", kAdapterName);
    logBuild();

    CoInitialize(nullptr);
    if (component) {
        component->Release();
        component = nullptr;
    }
    component = createComponent();
    if (!component) {
        logError("", "Component init error!");
        setAnswerNumber(kAdapterNoComponent);
        return false;
    }

    std::free(registry);
    std::free(indexTable);
    indexTable = nullptr;
    registry = static_cast<AdapterMap*>(allocZeroed(sizeof(AdapterMap)));
    if (!registry) {
        REPORT_ALLOC_FAIL();
        return false;
    }
    registerComponentFunctions(registry);
    componentCount = registry->count;
    indexTable = static_cast<AdapterFunction*>(allocZeroed(
        sizeof(AdapterFunction) * static_cast<size_t>(componentCount ? componentCount : 1)));
    if (!indexTable) {
        REPORT_ALLOC_FAIL();
        return false;
    }
    std::memcpy(indexTable, registry->entries, sizeof(AdapterFunction) * componentCount);

    EnableAdapterFunction(registry, GetAdapterVersion, "Velanto_GetVersion");
    EnableAdapterFunction(registry, ReleaseAdapter, "Velanto_Release");
    EnableAdapterFunction(registry, UnlockAdapter, "Velanto_Unlock");
    sortAdapterMap(registry);

    logNormal("Success enable:", "");
    logNormalInt("\tComponent api: ", componentCount);
    logNormalInt("\tSystem api: ", registry->count - componentCount);
    initialised = true;
    return true;
}

void DispatchAdapterFunction(JsonMap* map, const char* functionName) {
    const int index = getJsonMapInt(map, "VelantoFunctionIndex");
    logNormalInt("FunctionIndex: ", index);
    switch (index) {
    case -3:
        ReleaseAdapter(map);
        return;
    case -2:
        UnlockAdapter(map);
        return;
    case -1:
        GetAdapterVersion(map);
        return;
    default:
        break;
    }
    if (index < -3 || index >= componentCount || !indexTable) {
        logWarning("FunctionIndex: ", "Out of range");
    } else if (strcasecmp(indexTable[index].name, functionName) == 0) {
        indexTable[index].handler(map);
        return;
    } else {
        logWarning("", "VelantoFunctionIndex is not match with adapter");
        logWarning("FunctionName from web: ", functionName);
        logWarning("FunctionName in adapter: ", indexTable[index].name);
    }
    logWarning("FunctionIndex mode: ", "Fail");
    logNormal("Function search name mode: ", functionName);

    AdapterHandler handler = BinarySearchVelantoAdapterMap(registry, functionName, 0,
                                                           registry ? registry->count - 1 : -1);
    if (handler) {
        handler(map);
        return;
    }
    logWarning("Function name does not match: ", functionName);
    setAnswerNumber(kAdapterNoFunction);
}

// What the last call left behind goes with the library when the host unloads it.
struct ModuleState {
    ~ModuleState() {
        clearAnswer();
        std::free(registry);
        std::free(indexTable);
        if (component) component->Release();
    }
} moduleState;

const char* finishAnswer() {
    if (!answerSlot) answerSlot = static_cast<char*>(allocZeroed(1));
    return answerSlot ? answerSlot : "";
}

} // namespace

void setAnswer(const char* text) {
    clearAnswer();
    answerSlot = dupString(text);
    if (!answerSlot) REPORT_ALLOC_FAIL();
}

void setAnswerNumber(int number) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d", number);
    setAnswer(text);
}

void clearAnswer() {
    freeZeroed(answerSlot);
    answerSlot = nullptr;
}

ISigningComponent* adapterComponent() {
    return component;
}

void reportComponentError(const char* where, int line) {
    logWarning("", "Catch component exception");
    setAnswerNumber(kAdapterComponentError);
    char text[192];
    std::snprintf(text, sizeof(text), "Safe in %s at %d lines in %s", where, line,
                  "AdapterProject");
    logError("[Safe Line] ", text);
}

VELANTO_EXPORT const char* callMethod(const char* json) {
    logNormal("Into adapter: ", kAdapterName);
    logBuild();
    clearAnswer();
    if (!json) {
        REPORT_NULL("JSONObj");
        return finishAnswer();
    }
    JsonMap* map = parseJsonMap(json);
    if (!map) {
        REPORT_ALLOC_FAIL();
        return finishAnswer();
    }
    displayJsonMap(map);
    char* functionName = getJsonMapString(map, "FunctionName");
    if (!functionName) {
        logWarning("", "Function name is null");
        setAnswerNumber(kAdapterNoFunction);
    } else if (InitAdapter(map)) {
        DispatchAdapterFunction(map, functionName);
    }
    freeJsonMap(map);
    std::free(functionName);
    return finishAnswer();
}

VELANTO_EXPORT const char* callJsonMapMethod(JsonMap* map, const char* functionName) {
    logNormal("Into json map adapter: ", kAdapterName);
    logBuild();
    clearAnswer();
    if (!map) {
        REPORT_NULL("JsonMap");
    } else if (!functionName) {
        REPORT_NULL("FunctionName");
    } else if (InitAdapter(map)) {
        DispatchAdapterFunction(map, functionName);
    }
    return finishAnswer();
}
