// The software token's object functions: creating, copying, destroying,
// reading and changing objects, and finding them.

#include "tools/soft-token/SoftGost.h"
#include "tools/soft-token/SoftTokenApi.h"

using namespace softtoken;

namespace {

bool matches(const Object& obj, const Template& t) {
    for (const auto& [type, value] : t) {
        const Bytes* have = obj.get(type);
        if (!have || *have != value) {
            return false;
        }
    }
    return true;
}

// CKA_VALUE of a sensitive or unextractable key is never read out.
bool isSensitive(const Object& obj, CK_ATTRIBUTE_TYPE type) {
    const CK_ULONG cls = obj.ulong(CKA_CLASS);
    if (cls != CKO_PRIVATE_KEY && cls != CKO_SECRET_KEY) {
        return false;
    }
    return type == CKA_VALUE && (obj.flag(CKA_SENSITIVE) || !obj.flag(CKA_EXTRACTABLE, true));
}

bool templateBool(const Bytes& value) { return value.size() == 1 && value[0] != 0; }

// Whether a template may change these attributes of obj (C_SetAttributeValue,
// or C_CopyObject when copying): what makes the object what it is never
// changes, and a key only becomes more protected: CKA_SENSITIVE goes from
// false to true only, CKA_EXTRACTABLE from true to false, CKA_MODIFIABLE,
// CKA_COPYABLE and CKA_DESTROYABLE to false only. CKA_TOKEN and CKA_PRIVATE
// may be chosen for a copy only.
CK_RV checkChanges(const Object& obj, const Template& t, bool copying) {
    for (const auto& [type, value] : t) {
        switch (type) {
            case CKA_CLASS: case CKA_KEY_TYPE: case CKA_VALUE: case CKA_VALUE_LEN: case CKA_LOCAL:
            case CKA_ALWAYS_SENSITIVE: case CKA_NEVER_EXTRACTABLE: case CKA_KEY_GEN_MECHANISM:
            case CKA_GOSTR3410_PARAMS: case CKA_GOSTR3411_PARAMS: case CKA_CERTIFICATE_TYPE:
                return CKR_ATTRIBUTE_READ_ONLY;
            case CKA_TOKEN: case CKA_PRIVATE:
                if (!copying) {
                    return CKR_ATTRIBUTE_READ_ONLY;
                }
                break;
            case CKA_SENSITIVE:
                if (obj.flag(type) && !templateBool(value)) {
                    return CKR_ATTRIBUTE_READ_ONLY;
                }
                break;
            case CKA_EXTRACTABLE:
                if (!obj.flag(type, true) && templateBool(value)) {
                    return CKR_ATTRIBUTE_READ_ONLY;
                }
                break;
            case CKA_MODIFIABLE: case CKA_COPYABLE: case CKA_DESTROYABLE:
                if (!obj.flag(type, true) && templateBool(value)) {
                    return CKR_ATTRIBUTE_READ_ONLY;
                }
                break;
            default:
                break;
        }
    }
    return CKR_OK;
}

}  // namespace

namespace softtoken {

void applyDefaults(Object& obj) {
    const CK_ULONG cls = obj.ulong(CKA_CLASS);
    const bool key = cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY;
    auto def = [&](CK_ATTRIBUTE_TYPE t, bool v) {
        if (!obj.has(t)) {
            obj.setFlag(t, v);
        }
    };
    def(CKA_TOKEN, false);
    def(CKA_PRIVATE, key);
    def(CKA_MODIFIABLE, true);
    if (!obj.has(CKA_LABEL)) {
        obj.attrs[CKA_LABEL] = {};
    }
    if (cls == CKO_CERTIFICATE && !obj.has(CKA_CERTIFICATE_TYPE)) {
        obj.setUlong(CKA_CERTIFICATE_TYPE, CKC_X_509);
    }
    if (cls == CKO_PUBLIC_KEY || key) {
        if (!obj.has(CKA_ID)) {
            obj.attrs[CKA_ID] = {};
        }
        def(CKA_LOCAL, false);
        def(CKA_DERIVE, cls == CKO_PRIVATE_KEY);
    }
    if (cls == CKO_PUBLIC_KEY) {
        def(CKA_VERIFY, true);
        def(CKA_ENCRYPT, false);
        def(CKA_WRAP, false);
    }
    if (key) {
        def(CKA_SENSITIVE, cls == CKO_PRIVATE_KEY);
        def(CKA_EXTRACTABLE, cls == CKO_SECRET_KEY);
        def(CKA_SIGN, cls == CKO_PRIVATE_KEY);
        def(CKA_DECRYPT, cls == CKO_SECRET_KEY);
        def(CKA_UNWRAP, cls == CKO_SECRET_KEY);
        def(CKA_ALWAYS_SENSITIVE, obj.flag(CKA_SENSITIVE));
        def(CKA_NEVER_EXTRACTABLE, !obj.flag(CKA_EXTRACTABLE));
        if (cls == CKO_PRIVATE_KEY) {
            def(CKA_ALWAYS_AUTHENTICATE, false);
        }
    }
    if (cls == CKO_SECRET_KEY) {
        def(CKA_ENCRYPT, true);
        def(CKA_WRAP, true);
        if (!obj.has(CKA_GOST28147_PARAMS)) {
            obj.attrs[CKA_GOST28147_PARAMS] = plcsp::derOid("1.2.643.2.2.31.1");
        }
        if (!obj.has(CKA_VALUE_LEN)) {
            obj.setUlong(CKA_VALUE_LEN, 32);
        }
    }
}

CK_RV storeObject(State& st, Session& sess, ObjectPtr obj, CK_OBJECT_HANDLE_PTR handle) {
    if (!handle) {
        return CKR_ARGUMENTS_BAD;
    }
    applyDefaults(*obj);
    if (obj->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    if (obj->isPrivate() && !st.userLoggedIn(sess.slot)) {
        return CKR_USER_NOT_LOGGED_IN;
    }
    obj->slot = sess.slot;
    obj->session = obj->isToken() ? 0 : sess.handle;
    if (obj->isToken()) {
        if (const CK_RV rv = st.save(*obj)) {
            return rv;
        }
    }
    *handle = st.add(std::move(obj));
    return CKR_OK;
}

}  // namespace softtoken

extern "C" {

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) try {
    SOFT_ENTER("C_CreateObject");
    SOFT_SESSION(hSession);
    auto obj = std::make_shared<Object>();
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, obj->attrs)) {
        return rv;
    }
    const CK_ULONG cls = obj->ulong(CKA_CLASS);
    if (cls == ~CK_ULONG(0)) {
        return CKR_TEMPLATE_INCOMPLETE;
    }
    if (cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY) {
        const CK_ULONG type = obj->ulong(CKA_KEY_TYPE);
        if (type == CKK_GOSTR3410 || type == CKK_GOSTR3410_512) {
            const Bytes* params = obj->get(CKA_GOSTR3410_PARAMS);
            const Bytes* value = obj->get(CKA_VALUE);
            if (!params || !value) {
                return CKR_TEMPLATE_INCOMPLETE;
            }
            const plcsp::CurveInfo* curve = curveOfParams(*params);
            const unsigned coord = type == CKK_GOSTR3410 ? 32 : 64;
            if (!curve || curve->coordBytes != coord) {
                return CKR_ATTRIBUTE_VALUE_INVALID;
            }
            const std::size_t want = cls == CKO_PUBLIC_KEY ? 2 * coord : coord;
            if (value->size() != want ||
                (cls == CKO_PUBLIC_KEY && !plcsp::ecCheckPublic(*curve, value->data(), value->size()))) {
                return CKR_ATTRIBUTE_VALUE_INVALID;
            }
        }
    } else if (cls == CKO_SECRET_KEY) {
        const Bytes* value = obj->get(CKA_VALUE);
        if (obj->ulong(CKA_KEY_TYPE) == CKK_GOST28147 && (!value || value->size() != 32)) {
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
    } else if (cls == CKO_CERTIFICATE) {
        if (!obj->has(CKA_VALUE)) {
            return CKR_TEMPLATE_INCOMPLETE;
        }
    } else if (cls != CKO_DATA) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    return storeObject(st, sess, std::move(obj), phObject);
} SOFT_CATCH

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) try {
    SOFT_ENTER("C_DestroyObject");
    SOFT_SESSION(hSession);
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (obj->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    st.destroy(hObject);
    return CKR_OK;
} SOFT_CATCH

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) try {
    SOFT_ENTER("C_GetAttributeValue");
    SOFT_SESSION(hSession);
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (ulCount && !pTemplate) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        CK_ATTRIBUTE& a = pTemplate[i];
        const Bytes* v = obj->get(a.type);
        if (!v) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (isSensitive(*obj, a.type)) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_SENSITIVE;
        } else if (!a.pValue) {
            a.ulValueLen = v->size();
        } else if (a.ulValueLen < v->size()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!v->empty()) {
                std::memcpy(a.pValue, v->data(), v->size());
            }
            a.ulValueLen = v->size();
        }
    }
    return rv;
} SOFT_CATCH

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) try {
    SOFT_ENTER("C_SetAttributeValue");
    SOFT_SESSION(hSession);
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (!obj->flag(CKA_MODIFIABLE, true)) {
        return CKR_ATTRIBUTE_READ_ONLY;
    }
    if (obj->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, t)) {
        return rv;
    }
    if (const CK_RV rv = checkChanges(*obj, t, false)) {
        return rv;
    }
    // Changed on a copy, so that a failed save leaves the object as it was.
    Object changed = *obj;
    for (auto& [type, value] : t) {
        changed.attrs[type] = std::move(value);
    }
    if (changed.isToken()) {
        if (const CK_RV rv = st.save(changed)) {
            return rv;
        }
    }
    obj->attrs = std::move(changed.attrs);
    return CKR_OK;
} SOFT_CATCH

CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                   CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject) try {
    SOFT_ENTER("C_CopyObject");
    SOFT_SESSION(hSession);
    if (!phNewObject) {
        return CKR_ARGUMENTS_BAD;
    }
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (!obj->flag(CKA_COPYABLE, true)) {
        return CKR_ACTION_PROHIBITED;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, t)) {
        return rv;
    }
    if (const CK_RV rv = checkChanges(*obj, t, true)) {
        return rv;
    }
    auto copy = std::make_shared<Object>();
    copy->attrs = obj->attrs;
    for (auto& [type, value] : t) {
        copy->attrs[type] = std::move(value);
    }
    // The copy is a new object: its own file, its own owner.
    return storeObject(st, sess, std::move(copy), phNewObject);
} SOFT_CATCH

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) try {
    SOFT_ENTER("C_FindObjectsInit");
    SOFT_SESSION(hSession);
    if (sess.findActive) {
        return CKR_OPERATION_ACTIVE;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, t)) {
        return rv;
    }
    sess.found.clear();
    sess.foundPos = 0;
    for (const auto& [h, obj] : st.objects) {
        if (st.object(sess, h) && matches(*obj, t)) {
            sess.found.push_back(h);
        }
    }
    sess.findActive = true;
    return CKR_OK;
} SOFT_CATCH

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) try {
    SOFT_ENTER("C_FindObjects");
    SOFT_SESSION(hSession);
    if (!sess.findActive) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (!pulObjectCount || (!phObject && ulMaxObjectCount)) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_ULONG n = 0;
    while (n < ulMaxObjectCount && sess.foundPos < sess.found.size()) {
        phObject[n++] = sess.found[sess.foundPos++];
    }
    *pulObjectCount = n;
    return CKR_OK;
} SOFT_CATCH

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) try {
    SOFT_ENTER("C_FindObjectsFinal");
    SOFT_SESSION(hSession);
    if (!sess.findActive) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    sess.findActive = false;
    sess.found.clear();
    return CKR_OK;
} SOFT_CATCH

}  // extern "C"
