// The WMI client interfaces and constants, for non-Windows builds.
#pragma once
// A system header to its consumers, whose warnings are not about it; its own build sees them.
#ifndef WINAPI_LAYER_BUILD
#pragma GCC system_header
#endif

#include "winapi/oleauto.h"

typedef LONG CIMTYPE;

EXTERN_C WINAPI_LAYER_API const CLSID CLSID_WbemLocator;
EXTERN_C WINAPI_LAYER_API const CLSID CLSID_WbemContext;
EXTERN_C WINAPI_LAYER_API const CLSID CLSID_WbemObjectTextSrc;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemLocator;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemServices;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemClassObject;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemQualifierSet;
EXTERN_C WINAPI_LAYER_API const IID IID_IEnumWbemClassObject;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemContext;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemCallResult;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemObjectSink;
EXTERN_C WINAPI_LAYER_API const IID IID_IWbemObjectTextSrc;

typedef enum tag_WBEM_GENUS_TYPE { WBEM_GENUS_CLASS = 1, WBEM_GENUS_INSTANCE = 2 } WBEM_GENUS_TYPE;

typedef enum tag_WBEM_GENERIC_FLAG_TYPE {
  WBEM_FLAG_RETURN_IMMEDIATELY = 0x10,
  WBEM_FLAG_RETURN_WBEM_COMPLETE = 0,
  WBEM_FLAG_BIDIRECTIONAL = 0,
  WBEM_FLAG_FORWARD_ONLY = 0x20,
  WBEM_FLAG_NO_ERROR_OBJECT = 0x40,
  WBEM_FLAG_RETURN_ERROR_OBJECT = 0,
  WBEM_FLAG_SEND_STATUS = 0x80,
  WBEM_FLAG_DONT_SEND_STATUS = 0,
  WBEM_FLAG_ENSURE_LOCATABLE = 0x100,
  WBEM_FLAG_DIRECT_READ = 0x200,
  WBEM_FLAG_SEND_ONLY_SELECTED = 0,
  WBEM_RETURN_WHEN_COMPLETE = 0,
  WBEM_RETURN_IMMEDIATELY = 0x10,
  WBEM_MASK_RESERVED_FLAGS = 0x1f000,
  WBEM_FLAG_USE_AMENDED_QUALIFIERS = 0x20000,
  WBEM_FLAG_STRONG_VALIDATION = 0x100000
} WBEM_GENERIC_FLAG_TYPE;

typedef enum tag_WBEM_CONDITION_FLAG_TYPE {
  WBEM_FLAG_ALWAYS = 0,
  WBEM_FLAG_ONLY_IF_TRUE = 0x1,
  WBEM_FLAG_ONLY_IF_FALSE = 0x2,
  WBEM_FLAG_ONLY_IF_IDENTICAL = 0x3,
  WBEM_MASK_PRIMARY_CONDITION = 0x3,
  WBEM_FLAG_KEYS_ONLY = 0x4,
  WBEM_FLAG_REFS_ONLY = 0x8,
  WBEM_FLAG_LOCAL_ONLY = 0x10,
  WBEM_FLAG_PROPAGATED_ONLY = 0x20,
  WBEM_FLAG_SYSTEM_ONLY = 0x30,
  WBEM_FLAG_NONSYSTEM_ONLY = 0x40,
  WBEM_MASK_CONDITION_ORIGIN = 0x70,
  WBEM_FLAG_CLASS_OVERRIDES_ONLY = 0x100,
  WBEM_FLAG_CLASS_LOCAL_AND_OVERRIDES = 0x200,
  WBEM_MASK_CLASS_CONDITION = 0x300
} WBEM_CONDITION_FLAG_TYPE;

typedef enum tag_WBEM_FLAVOR_TYPE {
  WBEM_FLAVOR_DONT_PROPAGATE = 0,
  WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE = 0x1,
  WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS = 0x2,
  WBEM_FLAVOR_MASK_PROPAGATION = 0xf,
  WBEM_FLAVOR_OVERRIDABLE = 0,
  WBEM_FLAVOR_NOT_OVERRIDABLE = 0x10,
  WBEM_FLAVOR_MASK_PERMISSIONS = 0x10,
  WBEM_FLAVOR_ORIGIN_LOCAL = 0,
  WBEM_FLAVOR_ORIGIN_PROPAGATED = 0x20,
  WBEM_FLAVOR_ORIGIN_SYSTEM = 0x40,
  WBEM_FLAVOR_MASK_ORIGIN = 0x60,
  WBEM_FLAVOR_NOT_AMENDED = 0,
  WBEM_FLAVOR_AMENDED = 0x80,
  WBEM_FLAVOR_MASK_AMENDED = 0x80
} WBEM_FLAVOR_TYPE;

typedef enum tag_WBEM_TIMEOUT_TYPE { WBEM_NO_WAIT = 0, WBEM_INFINITE = 0xffffffff } WBEM_TIMEOUT_TYPE;

typedef enum tag_WBEM_CHANGE_FLAG_TYPE {
  WBEM_FLAG_CREATE_OR_UPDATE = 0,
  WBEM_FLAG_UPDATE_ONLY = 0x1,
  WBEM_FLAG_CREATE_ONLY = 0x2,
  WBEM_FLAG_UPDATE_COMPATIBLE = 0,
  WBEM_FLAG_UPDATE_SAFE_MODE = 0x20,
  WBEM_FLAG_UPDATE_FORCE_MODE = 0x40,
  WBEM_MASK_UPDATE_MODE = 0x60,
  WBEM_FLAG_ADVISORY = 0x10000
} WBEM_CHANGE_FLAG_TYPE;

typedef enum tag_WMI_OBJ_TEXT {
  WMI_OBJ_TEXT_CIM_DTD_2_0 = 1,
  WMI_OBJ_TEXT_WMI_DTD_2_0 = 2,
  WMI_OBJ_TEXT_WMI_EXT1 = 3,
  WMI_OBJ_TEXT_WMI_EXT2 = 4,
  WMI_OBJ_TEXT_WMI_EXT3 = 5,
  WMI_OBJ_TEXT_WMI_EXT4 = 6,
  WMI_OBJ_TEXT_WMI_EXT5 = 7,
  WMI_OBJ_TEXT_WMI_EXT6 = 8,
  WMI_OBJ_TEXT_WMI_EXT7 = 9,
  WMI_OBJ_TEXT_WMI_EXT8 = 10,
  WMI_OBJ_TEXT_WMI_EXT9 = 11,
  WMI_OBJ_TEXT_WMI_EXT10 = 12,
  WMI_OBJ_TEXT_LAST = 13
} WMI_OBJ_TEXT;

typedef enum tag_CIMTYPE_ENUMERATION {
  CIM_ILLEGAL = 0xfff,
  CIM_EMPTY = 0,
  CIM_SINT8 = 16,
  CIM_UINT8 = 17,
  CIM_SINT16 = 2,
  CIM_UINT16 = 18,
  CIM_SINT32 = 3,
  CIM_UINT32 = 19,
  CIM_SINT64 = 20,
  CIM_UINT64 = 21,
  CIM_REAL32 = 4,
  CIM_REAL64 = 5,
  CIM_BOOLEAN = 11,
  CIM_STRING = 8,
  CIM_DATETIME = 101,
  CIM_REFERENCE = 102,
  CIM_CHAR16 = 103,
  CIM_OBJECT = 13,
  CIM_FLAG_ARRAY = 0x2000
} CIMTYPE_ENUMERATION;

typedef enum tag_WBEMSTATUS {
  WBEM_NO_ERROR = 0,
  WBEM_S_NO_ERROR = 0,
  WBEM_S_SAME = 0,
  WBEM_S_FALSE = 1,
  WBEM_S_ALREADY_EXISTS = 0x40001,
  WBEM_S_RESET_TO_DEFAULT = 0x40002,
  WBEM_S_DIFFERENT = 0x40003,
  WBEM_S_TIMEDOUT = 0x40004,
  WBEM_S_NO_MORE_DATA = 0x40005,
  WBEM_S_OPERATION_CANCELLED = 0x40006,
  WBEM_S_PENDING = 0x40007,
  WBEM_S_DUPLICATE_OBJECTS = 0x40008,
  WBEM_S_ACCESS_DENIED = 0x40009,
  WBEM_S_PARTIAL_RESULTS = 0x40010,
  WBEM_E_FAILED = 0x80041001,
  WBEM_E_NOT_FOUND = 0x80041002,
  WBEM_E_ACCESS_DENIED = 0x80041003,
  WBEM_E_PROVIDER_FAILURE = 0x80041004,
  WBEM_E_TYPE_MISMATCH = 0x80041005,
  WBEM_E_OUT_OF_MEMORY = 0x80041006,
  WBEM_E_INVALID_CONTEXT = 0x80041007,
  WBEM_E_INVALID_PARAMETER = 0x80041008,
  WBEM_E_NOT_AVAILABLE = 0x80041009,
  WBEM_E_CRITICAL_ERROR = 0x8004100a,
  WBEM_E_INVALID_STREAM = 0x8004100b,
  WBEM_E_NOT_SUPPORTED = 0x8004100c,
  WBEM_E_INVALID_SUPERCLASS = 0x8004100d,
  WBEM_E_INVALID_NAMESPACE = 0x8004100e,
  WBEM_E_INVALID_OBJECT = 0x8004100f,
  WBEM_E_INVALID_CLASS = 0x80041010,
  WBEM_E_PROVIDER_NOT_FOUND = 0x80041011,
  WBEM_E_INVALID_PROVIDER_REGISTRATION = 0x80041012,
  WBEM_E_PROVIDER_LOAD_FAILURE = 0x80041013,
  WBEM_E_INITIALIZATION_FAILURE = 0x80041014,
  WBEM_E_TRANSPORT_FAILURE = 0x80041015,
  WBEM_E_INVALID_OPERATION = 0x80041016,
  WBEM_E_INVALID_QUERY = 0x80041017,
  WBEM_E_INVALID_QUERY_TYPE = 0x80041018,
  WBEM_E_ALREADY_EXISTS = 0x80041019,
  WBEM_E_OVERRIDE_NOT_ALLOWED = 0x8004101a,
  WBEM_E_PROPAGATED_QUALIFIER = 0x8004101b,
  WBEM_E_PROPAGATED_PROPERTY = 0x8004101c,
  WBEM_E_UNEXPECTED = 0x8004101d,
  WBEM_E_ILLEGAL_OPERATION = 0x8004101e,
  WBEM_E_CANNOT_BE_KEY = 0x8004101f,
  WBEM_E_INCOMPLETE_CLASS = 0x80041020,
  WBEM_E_INVALID_SYNTAX = 0x80041021,
  WBEM_E_NONDECORATED_OBJECT = 0x80041022,
  WBEM_E_READ_ONLY = 0x80041023,
  WBEM_E_PROVIDER_NOT_CAPABLE = 0x80041024,
  WBEM_E_CLASS_HAS_CHILDREN = 0x80041025,
  WBEM_E_CLASS_HAS_INSTANCES = 0x80041026,
  WBEM_E_QUERY_NOT_IMPLEMENTED = 0x80041027,
  WBEM_E_ILLEGAL_NULL = 0x80041028,
  WBEM_E_INVALID_QUALIFIER_TYPE = 0x80041029,
  WBEM_E_INVALID_PROPERTY_TYPE = 0x8004102a,
  WBEM_E_VALUE_OUT_OF_RANGE = 0x8004102b,
  WBEM_E_CANNOT_BE_SINGLETON = 0x8004102c,
  WBEM_E_INVALID_CIM_TYPE = 0x8004102d,
  WBEM_E_INVALID_METHOD = 0x8004102e,
  WBEM_E_INVALID_METHOD_PARAMETERS = 0x8004102f,
  WBEM_E_SYSTEM_PROPERTY = 0x80041030,
  WBEM_E_INVALID_PROPERTY = 0x80041031,
  WBEM_E_CALL_CANCELLED = 0x80041032,
  WBEM_E_SHUTTING_DOWN = 0x80041033,
  WBEM_E_PROPAGATED_METHOD = 0x80041034,
  WBEM_E_UNSUPPORTED_PARAMETER = 0x80041035,
  WBEM_E_MISSING_PARAMETER_ID = 0x80041036,
  WBEM_E_INVALID_PARAMETER_ID = 0x80041037,
  WBEM_E_NONCONSECUTIVE_PARAMETER_IDS = 0x80041038,
  WBEM_E_PARAMETER_ID_ON_RETVAL = 0x80041039,
  WBEM_E_INVALID_OBJECT_PATH = 0x8004103a,
  WBEM_E_OUT_OF_DISK_SPACE = 0x8004103b,
  WBEM_E_BUFFER_TOO_SMALL = 0x8004103c,
  WBEM_E_UNSUPPORTED_PUT_EXTENSION = 0x8004103d,
  WBEM_E_UNKNOWN_OBJECT_TYPE = 0x8004103e,
  WBEM_E_UNKNOWN_PACKET_TYPE = 0x8004103f,
  WBEM_E_MARSHAL_VERSION_MISMATCH = 0x80041040,
  WBEM_E_MARSHAL_INVALID_SIGNATURE = 0x80041041,
  WBEM_E_INVALID_QUALIFIER = 0x80041042,
  WBEM_E_INVALID_DUPLICATE_PARAMETER = 0x80041043,
  WBEM_E_TOO_MUCH_DATA = 0x80041044,
  WBEM_E_SERVER_TOO_BUSY = 0x80041045,
  WBEM_E_INVALID_FLAVOR = 0x80041046,
  WBEM_E_CIRCULAR_REFERENCE = 0x80041047,
  WBEM_E_UNSUPPORTED_CLASS_UPDATE = 0x80041048,
  WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE = 0x80041049,
  WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE = 0x80041050,
  WBEM_E_TOO_MANY_PROPERTIES = 0x80041051,
  WBEM_E_UPDATE_TYPE_MISMATCH = 0x80041052,
  WBEM_E_UPDATE_OVERRIDE_NOT_ALLOWED = 0x80041053,
  WBEM_E_UPDATE_PROPAGATED_METHOD = 0x80041054,
  WBEM_E_METHOD_NOT_IMPLEMENTED = 0x80041055,
  WBEM_E_METHOD_DISABLED = 0x80041056,
  WBEM_E_INVALID_OPERATOR = 0x8004105d,
  WBEM_E_UNPARSABLE_QUERY = 0x80041068,
  WBEM_E_RESERVED_001 = 0x8004107e,
  WBEM_E_INVALID_ASSOCIATION = 0x80041084
} WBEMSTATUS;

struct IWbemContext;
struct IWbemServices;
struct IWbemCallResult;
struct IWbemObjectSink;
struct IEnumWbemClassObject;
struct IWbemClassObject;

struct IWbemQualifierSet : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, long lFlags, VARIANT* pVal, long* plFlavor) = 0;
  virtual HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, VARIANT* pVal, long lFlavor) = 0;
  virtual HRESULT STDMETHODCALLTYPE Delete(LPCWSTR wszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNames(long lFlags, SAFEARRAY** pNames) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginEnumeration(long lFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Next(long lFlags, BSTR* pstrName, VARIANT* pVal, long* plFlavor) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndEnumeration(void) = 0;
};

struct IWbemClassObject : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** ppQualSet) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE* pType,
                                        long* plFlavor) = 0;
  virtual HRESULT STDMETHODCALLTYPE Put(LPCWSTR wszName, long lFlags, VARIANT* pVal, CIMTYPE Type) = 0;
  virtual HRESULT STDMETHODCALLTYPE Delete(LPCWSTR wszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR wszQualifierName, long lFlags, VARIANT* pQualifierVal,
                                             SAFEARRAY** pNames) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginEnumeration(long lEnumFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Next(long lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, long* plFlavor) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndEnumeration(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR wszProperty, IWbemQualifierSet** ppQualSet) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** ppCopy) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetObjectText(long lFlags, BSTR* pstrObjectText) = 0;
  virtual HRESULT STDMETHODCALLTYPE SpawnDerivedClass(long lFlags, IWbemClassObject** ppNewClass) = 0;
  virtual HRESULT STDMETHODCALLTYPE SpawnInstance(long lFlags, IWbemClassObject** ppNewInstance) = 0;
  virtual HRESULT STDMETHODCALLTYPE CompareTo(long lFlags, IWbemClassObject* pCompareTo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) = 0;
  virtual HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR strAncestor) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR wszName, long lFlags, IWbemClassObject** ppInSignature,
                                              IWbemClassObject** ppOutSignature) = 0;
  virtual HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR wszName, long lFlags, IWbemClassObject* pInSignature,
                                              IWbemClassObject* pOutSignature) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR wszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(long lEnumFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE NextMethod(long lFlags, BSTR* pstrName, IWbemClassObject** ppInSignature,
                                               IWbemClassObject** ppOutSignature) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndMethodEnumeration(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR wszMethod, IWbemQualifierSet** ppQualSet) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) = 0;
};

struct IWbemContext : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Clone(IWbemContext** ppNewCopy) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNames(long lFlags, SAFEARRAY** pNames) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginEnumeration(long lFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE Next(long lFlags, BSTR* pstrName, VARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndEnumeration(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR wszName, long lFlags, VARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(LPCWSTR wszName, long lFlags, VARIANT* pValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR wszName, long lFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAll(void) = 0;
};

struct IWbemObjectSink : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Indicate(long lObjectCount, IWbemClassObject** apObjArray) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStatus(long lFlags, HRESULT hResult, BSTR strParam,
                                              IWbemClassObject* pObjParam) = 0;
};

struct IEnumWbemClassObject : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reset(void) = 0;
  virtual HRESULT STDMETHODCALLTYPE Next(long lTimeout, ULONG uCount, IWbemClassObject** apObjects,
                                         ULONG* puReturned) = 0;
  virtual HRESULT STDMETHODCALLTYPE NextAsync(ULONG uCount, IWbemObjectSink* pSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(long lTimeout, ULONG nCount) = 0;
};

struct IWbemCallResult : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetResultObject(long lTimeout, IWbemClassObject** ppResultObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResultString(long lTimeout, BSTR* pstrResultString) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResultServices(long lTimeout, IWbemServices** ppServices) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCallStatus(long lTimeout, long* plStatus) = 0;
};

struct IWbemServices : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR strNamespace, long lFlags, IWbemContext* pCtx,
                                                  IWbemServices** ppWorkingNamespace, IWbemCallResult** ppResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* pSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryObjectSink(long lFlags, IWbemObjectSink** ppResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetObject(const BSTR strObjectPath, long lFlags, IWbemContext* pCtx,
                                              IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR strObjectPath, long lFlags, IWbemContext* pCtx,
                                                   IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject* pObject, long lFlags, IWbemContext* pCtx,
                                             IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject* pObject, long lFlags, IWbemContext* pCtx,
                                                  IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR strClass, long lFlags, IWbemContext* pCtx,
                                                IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR strClass, long lFlags, IWbemContext* pCtx,
                                                     IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR strSuperclass, long lFlags, IWbemContext* pCtx,
                                                    IEnumWbemClassObject** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR strSuperclass, long lFlags, IWbemContext* pCtx,
                                                         IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* pInst, long lFlags, IWbemContext* pCtx,
                                                IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject* pInst, long lFlags, IWbemContext* pCtx,
                                                     IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR strObjectPath, long lFlags, IWbemContext* pCtx,
                                                   IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR strObjectPath, long lFlags, IWbemContext* pCtx,
                                                        IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR strFilter, long lFlags, IWbemContext* pCtx,
                                                       IEnumWbemClassObject** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR strFilter, long lFlags, IWbemContext* pCtx,
                                                            IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, long lFlags,
                                              IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery, long lFlags,
                                                   IWbemContext* pCtx, IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR strQueryLanguage, const BSTR strQuery, long lFlags,
                                                          IWbemContext* pCtx, IEnumWbemClassObject** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery,
                                                               long lFlags, IWbemContext* pCtx,
                                                               IWbemObjectSink* pResponseHandler) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, long lFlags,
                                               IWbemContext* pCtx, IWbemClassObject* pInParams,
                                               IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR strObjectPath, const BSTR strMethodName, long lFlags,
                                                    IWbemContext* pCtx, IWbemClassObject* pInParams,
                                                    IWbemObjectSink* pResponseHandler) = 0;
};

struct IWbemLocator : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR strNetworkResource, const BSTR strUser,
                                                  const BSTR strPassword, const BSTR strLocale, long lSecurityFlags,
                                                  const BSTR strAuthority, IWbemContext* pCtx,
                                                  IWbemServices** ppNamespace) = 0;
};

struct IWbemObjectTextSrc : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetText(long lFlags, IWbemClassObject* pObj, ULONG uObjTextFormat,
                                            IWbemContext* pCtx, BSTR* strText) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateFromText(long lFlags, BSTR strText, ULONG uObjTextFormat, IWbemContext* pCtx,
                                                   IWbemClassObject** pNewObj) = 0;
};
