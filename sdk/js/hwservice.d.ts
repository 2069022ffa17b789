// Types of hwservice.js (ES module) and of the globals that
// hwservice.global.js (classic script) defines.

export type Transport = "http" | "websocket";

export interface HwServiceOptions {
  /** Address of the service; default "http://127.0.0.1:7776". WebSocket uses the same host and port. */
  url?: string;
  /** Default "http". */
  transport?: Transport;
  /** How long one request may take, in milliseconds; default 10000. */
  timeoutMs?: number;
  /** TranData.Region of every request (1 to 99 bytes); default "000000". */
  region?: string;
  /** WebSocket keep-alive period in milliseconds; default 15000, 0 for none. */
  heartbeatMs?: number;
  /** Replaces the global fetch (for tests or other runtimes). */
  fetch?: typeof globalThis.fetch;
  /** Replaces the global WebSocket (for tests or other runtimes). */
  WebSocket?: { new (url: string): WebSocket };
}

export interface CallOptions {
  /** Overrides the instance's timeoutMs for this request. */
  timeoutMs?: number;
}

/** The library's own error codes; the service's codes are negative numbers. */
export type HwServiceErrorCode =
  | "NOT_REACHABLE"
  | "BLOCKED"
  | "TIMEOUT"
  | "CONNECTION_LOST"
  | "BAD_REPLY"
  | "REFUSED"
  | "BAD_REQUEST"
  | "CLOSED";

/** The request's members as the service echoes them, with its four results. */
export interface Reply {
  FunID: string;
  ResultCode: number;
  ErrorInfo: string;
  ResultData: Record<string, string> | null;
  TranData: Record<string, unknown>;
  [member: string]: unknown;
}

export class HwServiceError extends Error {
  /** ResultCode of the service (negative), or the library's own code. */
  readonly code: number | HwServiceErrorCode;
  /** FunID of the request, when the failure belongs to one. */
  readonly funId: string | null;
  /** The service's whole reply, when it answered with a ResultCode other than 0. */
  readonly reply: Reply | null;
  static readonly NOT_REACHABLE: "NOT_REACHABLE";
  static readonly BLOCKED: "BLOCKED";
  static readonly TIMEOUT: "TIMEOUT";
  static readonly CONNECTION_LOST: "CONNECTION_LOST";
  static readonly BAD_REPLY: "BAD_REPLY";
  static readonly REFUSED: "REFUSED";
  static readonly BAD_REQUEST: "BAD_REQUEST";
  static readonly CLOSED: "CLOSED";
}

/** DKQ0001 */
export interface SocialCardNumber {
  CardNo: string;
  CardType: string;
}

/** DKQ0002 */
export interface SocialCardInfo {
  Address: string;
  Birthday: string;
  CardNo: string;
  CardType: string;
  Company: string;
  ID: string;
  IDType: string;
  IssueDate: string;
  IssueDeptID: string;
  Name: string;
  Sex: string;
  Telephone: string;
}

/** DKQ0003 */
export interface SocialCardCertId {
  CardCertID: string;
  CardNo: string;
  CardType: string;
}

/** DKQ0004 */
export interface SocialCardRegion {
  City: string;
}

/** DKQ0005 */
export interface IdCard {
  Activity: string;
  Address: string;
  Born: string;
  CardNo: string;
  Name: string;
  Police: string;
  /** With { photo: true }: the photo as a data: URL. */
  Photo?: string;
  /** With { photo: true }: the photo as the card holds it. */
  PhotoRaw?: string;
  /** With { photo: true }: why the photo could not be decoded. */
  PhotoError?: string;
}

/** DKQ0007 */
export interface BankCardNumber {
  MagBankNo: string;
}

/** DKQ0011 */
export interface QrCode {
  ECardInfo: string;
}

export interface IdCardOptions {
  /** Also ask for the holder's photo. */
  photo?: boolean;
}

export class HwService {
  constructor(options?: HwServiceOptions);
  readonly url: string;
  readonly transport: Transport;
  readonly timeoutMs: number;
  readonly region: string;
  readonly heartbeatMs: number;

  /** Whether the service answers on /api/hello; never rejects. */
  available(): Promise<boolean>;
  /** Any operation; resolves to its ResultData. */
  call(funId: string, tranData?: Record<string, unknown>, options?: CallOptions): Promise<Record<string, string> | null>;

  readSocialCardNumber(): Promise<SocialCardNumber>;
  readSocialCardInfo(): Promise<SocialCardInfo>;
  readSocialCardCertId(): Promise<SocialCardCertId>;
  readSocialCardRegion(): Promise<SocialCardRegion>;
  readIdCard(options?: IdCardOptions): Promise<IdCard>;
  readBankCardNumber(): Promise<BankCardNumber>;
  /** true: the scanner reads codes by itself; false: on request. */
  setScannerMode(auto: boolean): Promise<void>;
  /** Waits up to `seconds` (default 10; 0 to 2 mean 3) for one QR code. */
  readQrCode(seconds?: number): Promise<QrCode>;
  /** The scanner's automatic-read interval, 0 to 9999. */
  setScannerInterval(interval: number): Promise<void>;
  /** Ends the WebSocket connection; open requests fail with CLOSED. */
  close(): void;
}

declare global {
  interface Window {
    HwService: typeof HwService;
    HwServiceError: typeof HwServiceError;
  }
}
