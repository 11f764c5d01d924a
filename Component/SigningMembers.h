// The members of ISigningComponent in vtable order: the one table the interface, the
// component implementations and the adapter's handlers are all generated from.
//
//   METHOD(order, index, name, (parameters))
//     order      place in the vtable, counted from 1 after the seven IDispatch members
//     index      registration index in the adapter ("VelantoFunctionIndex")
//     name       the function name a request calls and the member called
//     parameters in call order: T(key) text (BSTR), I(key) integer, V(key) text as
//                VARIANT; then the answer's output pointer, if any: OUT_TEXT (BSTR*),
//                OUT_NUMBER (int*) or OUT_LIST (VARIANT*). A member without one answers "0".
//
//   PROPERTY(getOrder, putOrder, name, kind, propput#, propget#, Get#, Put#)
//     kind       TEXT or INT; the accessors get_<name> and put_<name> sit at the two
//                orders; the four registration indexes are those of the adapter names
//                "VelantoProperty_propput_<name>", "VelantoProperty_propget_<name>",
//                "Get<name>" and "Put<name>".
#pragma once

// clang-format off
#define VELANTO_SIGNING_MEMBERS(METHOD, PROPERTY) \
    METHOD(1, 18, QvCAPISign, (T(bData), T(Subject), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(2, 19, SetCodePage, (I(codepage))) \
    METHOD(3, 20, QvCAPIVerify, (T(strSignature), T(bData), T(strSubject), I(flags), I(iKeyUsage), I(nTime), OUT_NUMBER)) \
    METHOD(4, 21, QvCAPIEncrypt, (T(strSubject), I(istore), I(iSelCertFlags), T(bData), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(5, 22, QvCAPIDecrypt, (T(strCipher), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(6, 23, QvCAPIExportPKCS12, (T(strSubject), I(flags), I(iKeyUsage), T(strPassword), T(strFilePath), T(strFileName), OUT_NUMBER)) \
    METHOD(7, 24, GetErrorCode, (OUT_NUMBER)) \
    METHOD(8, 25, QvCAPISymmetricEncrypt, (I(iAlgor), T(strPasswd), T(bData), OUT_TEXT)) \
    METHOD(9, 26, QvCAPISymmetricDecrypt, (I(iAlgor), T(strPasswd), T(cipher), OUT_TEXT)) \
    METHOD(10, 27, QvXCAPICertGetSerialNumber, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(11, 28, CheckKeyUsage, (I(iCheck))) \
    METHOD(12, 29, GetVerifyRtnSignerInfo, (OUT_TEXT)) \
    METHOD(13, 30, GetVerifyRtnCert, (OUT_TEXT)) \
    METHOD(14, 31, QvCAPICertGetDigest, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(15, 32, QvCAPIShowCertificateDlg, (T(strMsg), T(strCert), OUT_NUMBER)) \
    METHOD(16, 33, QvCAPISetDlgLogo, (T(strLog))) \
    METHOD(17, 34, QvXCAPISetLanguage, (T(strLanguage), OUT_NUMBER)) \
    METHOD(18, 35, QvCAPIImportPKCS12Ex, (T(strPwd), T(strFilePath), T(strFileName), T(friendly_name), I(iFlags), OUT_NUMBER)) \
    METHOD(19, 36, QvXCAPIEncode, (T(strData), V(strPemTitle), OUT_TEXT)) \
    METHOD(20, 37, QvXCAPIDecode, (T(strEncoded), V(strPemTitle), OUT_TEXT)) \
    METHOD(21, 38, QvCAPICertGetSubject, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(22, 39, QvCAPICertGetIssuer, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(23, 40, QvCAPICertGetNotBefore, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(24, 41, QvCAPICertGetNotAfter, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(25, 42, QvXCAPISetParentWindowHandle, (I(hParent))) \
    METHOD(26, 43, QvCAPICertEncrypt, (T(strCert), T(bData), I(iFlags), OUT_TEXT)) \
    METHOD(27, 44, QvCAPISetDisplayMessage, (T(strMessage))) \
    METHOD(28, 45, QvCAPIPureSign, (T(strData), T(strSubject), I(iFlags), I(iHashalg), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(29, 46, QvCAPIGetRtnSignature, (OUT_TEXT)) \
    METHOD(30, 47, QvCAPIGetRtnCert, (OUT_TEXT)) \
    METHOD(31, 48, QvCAPISignEx, (T(strData), T(strSubject), T(strProvider), T(strPin), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(32, 49, QvCAPIRegisterCertificate, (T(strProvider), OUT_NUMBER)) \
    METHOD(33, 50, QvXCAPIPKCS7GetUserCertificate, (T(p7cert), OUT_TEXT)) \
    METHOD(34, 51, QvXCAPIGetCertSubject, (T(Subject), T(field), I(flag), I(keyUsage), OUT_LIST)) \
    METHOD(35, 52, QvCAPIShowDebugMessage, (I(bShow))) \
    METHOD(36, 53, QvXCAPIGetCertsEx, (T(provider), T(Subject), I(flag), I(keyUsage), I(disableATKeySpec), OUT_LIST)) \
    METHOD(37, 54, QvCAPIRegisterCertificateEx, (T(bProvider), I(iDisableFlag), OUT_NUMBER)) \
    METHOD(38, 55, QvCAPIFileSign, (T(bFilePath), T(bSubject), T(bProvider), T(bPin), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(39, 56, QvCAPI_MultiSignInit, (T(strProvider), I(iFlags), OUT_NUMBER)) \
    METHOD(40, 57, QvCAPI_MultiSignEnd, (I(iFlags))) \
    METHOD(41, 58, QvXCAPISelectCert, (T(Subject), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(42, 59, GetSignRtnContent, (OUT_TEXT)) \
    METHOD(43, 60, QvCAPIFileEncryptByCert, (T(strCert), T(strFilePath), I(iFlags), OUT_TEXT)) \
    METHOD(44, 61, QvCAPIDecrypt2File, (T(strCipher), T(strOutFilePath), I(flags), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(45, 62, QvCAPIPFXImportSC, (T(sBases64PFXFile), T(strPasswd), T(strCSP), I(iFlags), OUT_NUMBER)) \
    METHOD(46, 63, QvCAPI_UsrCertGetProvName, (T(Subject), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(47, 64, QvCAPI_DeleteUsrCert, (T(Subject), I(flag), I(keyUsage), OUT_NUMBER)) \
    METHOD(48, 65, QvCAPIAuth, (T(strData), T(strSubject), T(strProvider), T(strPin), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(49, 66, QvCAPI_XGetUserCertificate, (T(strProvider), T(Subject), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(50, 67, QvCAPI_AcceptPKCS7, (T(strCertificate), I(iFlags), OUT_NUMBER)) \
    METHOD(51, 68, QvCAPICertGetPublicKey, (T(strCert), I(iFlags), OUT_TEXT)) \
    METHOD(52, 69, QvCAPI_ChangeP12Pwd, (T(strPFXFilepath), T(strOldPwd), T(strNewPwd), I(iFlags), OUT_NUMBER)) \
    METHOD(53, 70, QvCAPI_PFXSign, (T(sPFXfilepath), T(strPasswd), T(data), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(54, 71, QvCAPI_GetPFXCertCount, (T(sPFXfilepath), T(strPasswd), OUT_NUMBER)) \
    METHOD(55, 72, QvCAPI_ReadFile, (T(bFilePath), I(iFlags), OUT_TEXT)) \
    METHOD(56, 73, QvCAPI_GetFilePath, (T(title), T(fileDesc), T(fileType), T(initPath), T(initFile), OUT_TEXT)) \
    METHOD(57, 74, QvCAPISignEx2, (T(strData), T(signcodepage), T(strSubject), T(bstrIssuerSubject), T(strProvider), T(strPin), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(58, 75, QvCAPIVerifyEx2, (T(strSignature), T(bData), T(signcodepage), T(strSubject), I(flags), I(iKeyUsage), I(nTime), OUT_NUMBER)) \
    METHOD(59, 76, QvCAPI_PKCS7GetSignerCert, (T(pkcs7signature), I(index), I(flags), OUT_TEXT)) \
    METHOD(60, 77, QvCAPIGetVerifiedContent, (T(pkcs7signature), T(reserved), I(flags), OUT_TEXT)) \
    METHOD(61, 78, QvCAPIVerifiedContent2File, (T(pkcs7signature), T(reserved), I(flags), T(outfile), OUT_NUMBER)) \
    METHOD(62, 79, QvCAPIComposePKCS7, (T(strCert), T(B64RawSignature), T(bData), I(iFlags), OUT_TEXT)) \
    METHOD(63, 80, QvGetTempPath, (OUT_TEXT)) \
    PROPERTY(64, 65, HashAlgorithm, TEXT, 0, 1, 81, 82) \
    PROPERTY(66, 67, providerType, INT, 2, 3, 83, 84) \
    PROPERTY(68, 69, providerName, TEXT, 4, 5, 85, 86) \
    PROPERTY(70, 71, KeySpec, INT, 6, 7, 87, 88) \
    PROPERTY(72, 73, GenKeyFlags, INT, 8, 9, 89, 90) \
    PROPERTY(74, 75, DeleteRequestCert, INT, 10, 11, 91, 92) \
    PROPERTY(76, 77, WriteCertToCSP, INT, 12, 13, 93, 94) \
    METHOD(78, 95, enumProviders, (I(dwIndex), I(dwFlags), OUT_TEXT)) \
    METHOD(79, 96, acceptPKCS7, (T(strCert))) \
    METHOD(80, 97, createPKCS10, (T(dn), T(bOID), OUT_TEXT)) \
    METHOD(81, 98, QvCAPI_PFXSign2, (T(sB64PFX), T(strPasswd), T(bData), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(82, 99, QvCAPI_CheckPFX, (T(sB64PFX), T(strPasswd), T(strSubject), I(iFlags), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(83, 100, QvCAPI_DeleteUsrCertEx, (T(strProvider), T(strSubject), I(iFlags), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(84, 101, QvCAPI_CheckPermission, (OUT_NUMBER)) \
    METHOD(85, 102, QvCAPIPureVerify, (T(strSignature), T(strData), T(strSubject), I(iFlags), I(iHashalg), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(86, 103, QvCAPISetDisplayMessageFont, (T(font), I(size))) \
    METHOD(87, 104, QvCAPISignAndEncrypt, (T(bSignerSubject), T(bEncryptCert), T(bData), I(iFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(88, 105, QvCAPIDecryptAndVerify, (T(bCipher), I(iSignerIndex), I(iFlags), OUT_TEXT)) \
    METHOD(89, 106, GetDecrypRtnCert, (OUT_TEXT)) \
    METHOD(90, 107, QvCAPI_PFXPureSign, (T(sPFXfilepath), T(strPasswd), T(bData), I(iFlags), I(iHashalg), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(91, 108, QvCAPIUnRegisterCertificateEx, (T(bProvider), I(iFlags), OUT_NUMBER)) \
    METHOD(92, 109, QvCAPISymmetricRawKeyEncrypt, (I(iAlgor), T(bRawKey), T(bRawIV), T(bData), OUT_TEXT)) \
    METHOD(93, 110, QvCAPISymmetricRawKeyDecrypt, (I(iAlgor), T(bRawKey), T(bRawIV), T(bCipher), OUT_TEXT)) \
    METHOD(94, 111, QvCAPIPKCS7GetEncryptedDigest, (T(pkcs7signature), I(flags), OUT_TEXT)) \
    METHOD(95, 112, QvCAPI_PFXSignEx, (T(bPFXfilepath), T(bPFXPassWord), T(bSubject), T(bData), I(iSignFlags), I(iKeyUsage), I(iImportP12Flags), OUT_TEXT)) \
    METHOD(96, 113, QvCAPIImportPKCS12, (T(strPwd), T(strFilePath), T(strFileName), I(iFlags), OUT_NUMBER)) \
    METHOD(97, 114, Qv_GETVersion, (I(flag), OUT_TEXT)) \
    METHOD(98, 115, acceptPKCS7Ex, (T(bCert), T(bPin))) \
    PROPERTY(99, 100, friendlyName, TEXT, 14, 15, 116, 117) \
    METHOD(101, 118, QvCAPIP12XGetUserCertificate, (T(strPwd), T(strFilePath), T(strFileName), OUT_TEXT)) \
    METHOD(102, 119, QvCAPI_InstallCert, (T(strCertificate), I(iFlags), OUT_NUMBER)) \
    METHOD(103, 120, QvCAPI_WriteFile, (T(strB64Data), T(strFilePath), I(iFlags), OUT_NUMBER)) \
    METHOD(104, 121, QvGetMyDocumentsPath, (OUT_TEXT)) \
    METHOD(105, 122, QvCAPISymmetricEncryptFile, (I(iAlgor), T(strPasswd), T(bSrcPath), T(bDstPath), OUT_NUMBER)) \
    METHOD(106, 123, QvCAPISymmetricDecryptFile, (I(iAlgor), T(strPasswd), T(bSrcPath), T(bDstPath), OUT_NUMBER)) \
    METHOD(107, 124, QvCAPI_UsrCertGetContainerName, (T(Subject), I(flags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(108, 125, QvCAPIPFXImportSCEx, (T(sBases64PFXFile), T(strPasswd), T(strCSP), T(strPin), I(iFlags), OUT_NUMBER)) \
    METHOD(109, 126, QvCAPIPureSignEx, (T(strData), T(strCodepage), T(strSubject), T(strIssuer), T(strProvider), T(strPin), I(iFlags), I(iHashalg), I(iKeyUsage), OUT_NUMBER)) \
    METHOD(110, 127, createPKCS10Ex, (T(dn), T(oid), T(bPin), OUT_TEXT)) \
    METHOD(111, 128, CAPISign, (T(strData), T(signcodepage), T(strSubject), T(bstrIssuer), T(strProvider), T(strPin), I(iFlags), I(iHashFlag), I(iKeyUsage), OUT_TEXT)) \
    METHOD(112, 129, CAPI_PFXSign, (T(sPFXfilepath), T(strPasswd), T(bData), I(iFlags), I(iHashFlags), I(iKeyUsage), OUT_TEXT)) \
    METHOD(113, 130, WriteReg, (T(key), T(path), T(name), T(type), T(value), I(iFlags), OUT_NUMBER)) \
    METHOD(114, 131, ReadReg, (T(key), T(path), T(name), T(type), I(iFlags), OUT_TEXT)) \
    PROPERTY(115, 116, SubjectAltName, TEXT, 16, 17, 132, 133)
// clang-format on
