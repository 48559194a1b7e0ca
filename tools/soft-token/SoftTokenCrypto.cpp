// The software token's digests, signatures and GOST 28147-89 encryption.
#include "tools/soft-token/SoftGost.h"
#include "tools/soft-token/SoftTokenApi.h"

using namespace softtoken;

namespace {

plcsp::Md openHash(int algo) {
    gcry_md_hd_t h = nullptr;
    if (gcry_md_open(&h, algo, 0)) {
        return nullptr;
    }
    return plcsp::Md(h);
}

// The key of a sign or verify operation: its curve and value, and the
// digest length the mechanism signs.
struct SignKey {
    const plcsp::CurveInfo* curve = nullptr;
    Bytes value;
};

CK_RV signKey(State& st, Session& sess, CK_MECHANISM_TYPE mech, CK_OBJECT_HANDLE h, bool sign, SignKey& out) {
    ObjectPtr key = st.object(sess, h);
    if (!key) {
        return CKR_KEY_HANDLE_INVALID;
    }
    if (key->ulong(CKA_CLASS) != (sign ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY)) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    if (!key->flag(sign ? CKA_SIGN : CKA_VERIFY)) {
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
    const bool wide = mech == CKM_GOSTR3410_512 || mech == CKM_GOSTR3410_WITH_GOSTR3411_12_512;
    if (key->ulong(CKA_KEY_TYPE) != (wide ? CKK_GOSTR3410_512 : CKK_GOSTR3410)) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    const Bytes* params = key->get(CKA_GOSTR3410_PARAMS);
    const Bytes* value = key->get(CKA_VALUE);
    out.curve = params ? curveOfParams(*params) : nullptr;
    if (!out.curve || !value) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    out.value = *value;
    return CKR_OK;
}

bool signMechanism(CK_MECHANISM_TYPE m) {
    return m == CKM_GOSTR3410 || m == CKM_GOSTR3410_512 || hashOfSignMechanism(m) != 0;
}

CK_RV initSign(State& st, Session& sess, SignOp& op, CK_MECHANISM_PTR mech, CK_OBJECT_HANDLE key, bool sign) {
    if (op.active) {
        return CKR_OPERATION_ACTIVE;
    }
    if (!mech) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!signMechanism(mech->mechanism)) {
        return CKR_MECHANISM_INVALID;
    }
    SignKey k;
    if (const CK_RV rv = signKey(st, sess, mech->mechanism, key, sign, k)) {
        return rv;
    }
    op = SignOp{};
    op.mechanism = mech->mechanism;
    op.key = key;
    if (const int algo = hashOfSignMechanism(op.mechanism)) {
        op.md = openHash(algo);
        if (!op.md) {
            return CKR_DEVICE_ERROR;
        }
    }
    op.active = true;
    return CKR_OK;
}

// The digest the operation signs: the hash of its data, or the raw data of
// the plain mechanisms (which must be a whole digest).
CK_RV finishDigest(SignOp& op, unsigned coord, Bytes& digest) {
    if (op.md) {
        const int algo = gcry_md_get_algo(op.md.get());
        const unsigned char* d = gcry_md_read(op.md.get(), algo);
        digest.assign(d, d + gcry_md_get_algo_dlen(algo));
        return CKR_OK;
    }
    if (op.data.size() != coord) {
        return CKR_DATA_LEN_RANGE;
    }
    digest = op.data;
    return CKR_OK;
}

void feed(SignOp& op, CK_BYTE_PTR data, CK_ULONG len) {
    if (!len) {
        return;
    }
    if (op.md) {
        gcry_md_write(op.md.get(), data, len);
    } else {
        op.data.insert(op.data.end(), data, data + len);
    }
}

// Checks that op runs and that a piece of input is readable; an unreadable
// piece ends the operation.
CK_RV checkPart(SignOp& op, CK_BYTE_PTR data, CK_ULONG len) {
    if (!op.active) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (len && !data) {
        op = SignOp{};
        return CKR_ARGUMENTS_BAD;
    }
    return CKR_OK;
}

CK_RV updatePart(SignOp& op, CK_BYTE_PTR data, CK_ULONG len) {
    if (const CK_RV rv = checkPart(op, data, len)) {
        return rv;
    }
    feed(op, data, len);
    return CKR_OK;
}

// The last piece of data (none for C_SignFinal) and the signature.
CK_RV signFinal(State& st, Session& sess, CK_BYTE_PTR data, CK_ULONG len, CK_BYTE_PTR sig, CK_ULONG_PTR sigLen) {
    SignOp& op = sess.sign;
    if (const CK_RV rv = checkPart(op, data, len)) {
        return rv;
    }
    SignKey k;
    if (const CK_RV rv = signKey(st, sess, op.mechanism, op.key, true, k)) {
        op = SignOp{};
        return rv;
    }
    bool done = false;
    const CK_RV room = outputRoom(sig, sigLen, 2 * k.curve->coordBytes, done);
    if (done) {
        if (room != CKR_OK && room != CKR_BUFFER_TOO_SMALL) {
            op = SignOp{};
        }
        return room;
    }
    // Fed only now: a size query must not consume the data.
    feed(op, data, len);
    Bytes digest, out;
    CK_RV rv = finishDigest(op, k.curve->coordBytes, digest);
    if (rv == CKR_OK) {
        rv = signDigest(*k.curve, k.value, digest.data(), digest.size(), out) ? CKR_OK : CKR_FUNCTION_FAILED;
    }
    if (rv == CKR_OK) {
        std::memcpy(sig, out.data(), out.size());
    }
    op = SignOp{};
    return rv;
}

CK_RV verifyFinal(State& st, Session& sess, CK_BYTE_PTR data, CK_ULONG len, CK_BYTE_PTR sig, CK_ULONG sigLen) {
    SignOp& op = sess.verify;
    if (const CK_RV rv = updatePart(op, data, len)) {
        return rv;
    }
    SignKey k;
    CK_RV rv = signKey(st, sess, op.mechanism, op.key, false, k);
    Bytes digest;
    if (rv == CKR_OK && (!sig || sigLen != 2 * k.curve->coordBytes)) {
        rv = CKR_SIGNATURE_LEN_RANGE;
    }
    if (rv == CKR_OK) {
        rv = finishDigest(op, k.curve->coordBytes, digest);
    }
    if (rv == CKR_OK) {
        rv = verifyDigest(*k.curve, k.value, digest.data(), digest.size(), sig, sigLen) ? CKR_OK
                                                                                          : CKR_SIGNATURE_INVALID;
    }
    op = SignOp{};
    return rv;
}

CK_RV initCipher(State& st, Session& sess, CipherOp& op, CK_MECHANISM_PTR mech, CK_OBJECT_HANDLE h, bool encrypt) {
    if (op.active) {
        return CKR_OPERATION_ACTIVE;
    }
    if (!mech) {
        return CKR_ARGUMENTS_BAD;
    }
    if (mech->mechanism != CKM_GOST28147) {
        return CKR_MECHANISM_INVALID;
    }
    if (!mech->pParameter || mech->ulParameterLen != 8) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    ObjectPtr key = st.object(sess, h);
    if (!key) {
        return CKR_KEY_HANDLE_INVALID;
    }
    const Bytes* value = key->get(CKA_VALUE);
    if (key->ulong(CKA_CLASS) != CKO_SECRET_KEY || key->ulong(CKA_KEY_TYPE) != CKK_GOST28147 || !value ||
        value->size() != 32) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    if (!key->flag(encrypt ? CKA_ENCRYPT : CKA_DECRYPT)) {
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
    const Bytes* params = key->get(CKA_GOST28147_PARAMS);
    const std::string sbox = params ? oidOfDer(*params) : "1.2.643.2.2.31.1";
    if (!plcsp::isKnownSboxOid(sbox)) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    op = CipherOp{};
    if (!op.stream.start(value->data(), sbox, static_cast<const unsigned char*>(mech->pParameter), encrypt)) {
        return CKR_DEVICE_ERROR;
    }
    op.active = true;
    return CKR_OK;
}

// One piece through the running stream (the output is as long as the input).
CK_RV cipherPart(CipherOp& op, CK_BYTE_PTR in, CK_ULONG inLen, CK_BYTE_PTR out, CK_ULONG_PTR outLen, bool last) {
    if (!op.active) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (inLen && !in) {
        op = CipherOp{};
        return CKR_ARGUMENTS_BAD;
    }
    bool done = false;
    const CK_RV room = outputRoom(out, outLen, inLen, done);
    if (done) {
        if (room != CKR_OK && room != CKR_BUFFER_TOO_SMALL) {
            op = CipherOp{};
        }
        return room;
    }
    if (inLen) {
        std::memmove(out, in, inLen);
    }
    const bool ok = op.stream.process(out, inLen);
    if (!ok || last) {
        op = CipherOp{};
    }
    return ok ? CKR_OK : CKR_DEVICE_ERROR;
}

CK_RV cipherFinal(CipherOp& op, CK_BYTE_PTR, CK_ULONG_PTR outLen) {
    if (!op.active) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (!outLen) {
        return CKR_ARGUMENTS_BAD;
    }
    *outLen = 0;
    op = CipherOp{};
    return CKR_OK;
}

// The digest of the last piece of data (none for C_DigestFinal). A size
// query leaves the operation running.
CK_RV digestFinal(HashOp& op, CK_BYTE_PTR data, CK_ULONG len, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    if (!op.active) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    bool done = false;
    const CK_RV room = outputRoom(out, outLen, op.size, done);
    if (done) {
        return room;
    }
    if (len && !data) {
        op = HashOp{};
        return CKR_ARGUMENTS_BAD;
    }
    if (len) {
        gcry_md_write(op.md.get(), data, len);
    }
    const int algo = gcry_md_get_algo(op.md.get());
    std::memcpy(out, gcry_md_read(op.md.get(), algo), op.size);
    op = HashOp{};
    return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) try {
    SOFT_ENTER("C_DigestInit");
    SOFT_SESSION(hSession);
    if (sess.digest.active) {
        return CKR_OPERATION_ACTIVE;
    }
    if (!pMechanism) {
        return CKR_ARGUMENTS_BAD;
    }
    const int algo = hashOfDigestMechanism(*pMechanism);
    if (!algo) {
        return pMechanism->mechanism == CKM_GOSTR3411 ? CKR_MECHANISM_PARAM_INVALID : CKR_MECHANISM_INVALID;
    }
    sess.digest = HashOp{};
    sess.digest.md = openHash(algo);
    if (!sess.digest.md) {
        return CKR_DEVICE_ERROR;
    }
    sess.digest.size = gcry_md_get_algo_dlen(algo);
    sess.digest.active = true;
    return CKR_OK;
} SOFT_CATCH

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
    SOFT_ENTER("C_DigestUpdate");
    SOFT_SESSION(hSession);
    if (!sess.digest.active) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (ulPartLen && !pPart) {
        sess.digest = HashOp{};
        return CKR_ARGUMENTS_BAD;
    }
    if (ulPartLen) {
        gcry_md_write(sess.digest.md.get(), pPart, ulPartLen);
    }
    return CKR_OK;
} SOFT_CATCH

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) try {
    SOFT_ENTER("C_DigestFinal");
    SOFT_SESSION(hSession);
    return digestFinal(sess.digest, nullptr, 0, pDigest, pulDigestLen);
} SOFT_CATCH

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
               CK_ULONG_PTR pulDigestLen) try {
    SOFT_ENTER("C_Digest");
    SOFT_SESSION(hSession);
    return digestFinal(sess.digest, pData, ulDataLen, pDigest, pulDigestLen);
} SOFT_CATCH

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
    SOFT_ENTER("C_SignInit");
    SOFT_SESSION(hSession);
    return initSign(st, sess, sess.sign, pMechanism, hKey, true);
} SOFT_CATCH

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) try {
    SOFT_ENTER("C_Sign");
    SOFT_SESSION(hSession);
    return signFinal(st, sess, pData, ulDataLen, pSignature, pulSignatureLen);
} SOFT_CATCH

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
    SOFT_ENTER("C_SignUpdate");
    SOFT_SESSION(hSession);
    return updatePart(sess.sign, pPart, ulPartLen);
} SOFT_CATCH

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) try {
    SOFT_ENTER("C_SignFinal");
    SOFT_SESSION(hSession);
    return signFinal(st, sess, nullptr, 0, pSignature, pulSignatureLen);
} SOFT_CATCH

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
    SOFT_ENTER("C_VerifyInit");
    SOFT_SESSION(hSession);
    return initSign(st, sess, sess.verify, pMechanism, hKey, false);
} SOFT_CATCH

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) try {
    SOFT_ENTER("C_Verify");
    SOFT_SESSION(hSession);
    return verifyFinal(st, sess, pData, ulDataLen, pSignature, ulSignatureLen);
} SOFT_CATCH

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) try {
    SOFT_ENTER("C_VerifyUpdate");
    SOFT_SESSION(hSession);
    return updatePart(sess.verify, pPart, ulPartLen);
} SOFT_CATCH

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) try {
    SOFT_ENTER("C_VerifyFinal");
    SOFT_SESSION(hSession);
    return verifyFinal(st, sess, nullptr, 0, pSignature, ulSignatureLen);
} SOFT_CATCH

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
    SOFT_ENTER("C_EncryptInit");
    SOFT_SESSION(hSession);
    return initCipher(st, sess, sess.encrypt, pMechanism, hKey, true);
} SOFT_CATCH

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) try {
    SOFT_ENTER("C_Encrypt");
    SOFT_SESSION(hSession);
    return cipherPart(sess.encrypt, pData, ulDataLen, pEncryptedData, pulEncryptedDataLen, true);
} SOFT_CATCH

CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                      CK_ULONG_PTR pulEncryptedPartLen) try {
    SOFT_ENTER("C_EncryptUpdate");
    SOFT_SESSION(hSession);
    return cipherPart(sess.encrypt, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen, false);
} SOFT_CATCH

CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart, CK_ULONG_PTR pulLastEncryptedPartLen) try {
    SOFT_ENTER("C_EncryptFinal");
    SOFT_SESSION(hSession);
    return cipherFinal(sess.encrypt, pLastEncryptedPart, pulLastEncryptedPartLen);
} SOFT_CATCH

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) try {
    SOFT_ENTER("C_DecryptInit");
    SOFT_SESSION(hSession);
    return initCipher(st, sess, sess.decrypt, pMechanism, hKey, false);
} SOFT_CATCH

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData,
                CK_ULONG_PTR pulDataLen) try {
    SOFT_ENTER("C_Decrypt");
    SOFT_SESSION(hSession);
    return cipherPart(sess.decrypt, pEncryptedData, ulEncryptedDataLen, pData, pulDataLen, true);
} SOFT_CATCH

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                      CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) try {
    SOFT_ENTER("C_DecryptUpdate");
    SOFT_SESSION(hSession);
    return cipherPart(sess.decrypt, pEncryptedPart, ulEncryptedPartLen, pPart, pulPartLen, false);
} SOFT_CATCH

CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) try {
    SOFT_ENTER("C_DecryptFinal");
    SOFT_SESSION(hSession);
    return cipherFinal(sess.decrypt, pLastPart, pulLastPartLen);
} SOFT_CATCH

}  // extern "C"
