! Qav: waves at the toe of a dike.
!
! Interfaces of the five functions exported by DynamicLib-Qav, for Fortran
! hosts: `use qav` and link the library (DynamicLib-Qav.dll through its import
! library on Windows, DynamicLib-Qav.so elsewhere). Argument names and kinds
! are those of qav.h; every argument is passed by reference except the text
! lengths, which are 64-bit integers by value.
!
! The lengths that a Fortran compiler would append for the two texts of
! FORTRANENTRY_ROLLERMODEL5 are the explicit last two arguments here:
!
!   code = FORTRANENTRY_ROLLERMODEL5(..., LogFileName, ..., ErrorMessage, &
!                                    len(LogFileName, c_int64_t), len(ErrorMessage, c_int64_t))
!
! A host that calls it without this module, in the way of compilers that pass
! hidden text lengths at the end of the list (character(len=*) arguments, upper
! case name), calls the same function with the same arguments.
module qav
    use, intrinsic :: iso_c_binding, only: c_int, c_int64_t, c_double, c_char, c_ptr
    implicit none
    private
    public :: QAV_MESSAGE_LENGTH, QAV_MODEL_PARAMETER_COUNT
    public :: FORTRANENTRY_ROLLERMODEL5, C_FORTRANENTRY_RollerModel5
    public :: VALIDATEPROFILE, VALIDATEHYDRAULICDATA, GetVersionInfo

    ! Characters of the message buffer of the main entries and of the version text.
    integer, parameter :: QAV_MESSAGE_LENGTH = 1000
    ! ModelParameters: Ag, Rho, Alpha, Fc, RatioDepth, InvalidValue, MinStepSize.
    integer, parameter :: QAV_MODEL_PARAMETER_COUNT = 7

    interface
        ! Runs the model over a time series, every argument by reference.
        ! Returns 0 when the run succeeded, -1 when it failed.
        function FORTRANENTRY_ROLLERMODEL5(DamType, DamHeight, ModelParameters, NumberOfTimeSteps, &
                                           Hm0, Tp, Wlev, IncomingWaveAngle, DikeNormal, &
                                           NumberOfProfilePoints, ProfileX, ProfileBottomLevel, &
                                           Logging, LogFileName, Hm0Toe, TpToe, WaveAngleToe, &
                                           ErrorMessage, LogFileNameLength, ErrorMessageLength) &
            bind(C, name="FORTRANENTRY_ROLLERMODEL5") result(code)
            import :: c_int, c_int64_t, c_double, c_char
            integer(c_int), intent(in) :: DamType
            real(c_double), intent(in) :: DamHeight
            real(c_double), intent(in) :: ModelParameters(7)
            integer(c_int), intent(in) :: NumberOfTimeSteps
            real(c_double), intent(in) :: Hm0(*), Tp(*), Wlev(*), IncomingWaveAngle(*)
            real(c_double), intent(in) :: DikeNormal
            integer(c_int), intent(in) :: NumberOfProfilePoints
            real(c_double), intent(in) :: ProfileX(*), ProfileBottomLevel(*)
            integer(c_int), intent(in) :: Logging
            character(kind=c_char), intent(in) :: LogFileName(*)
            real(c_double), intent(out) :: Hm0Toe(*), TpToe(*), WaveAngleToe(*)
            character(kind=c_char), intent(out) :: ErrorMessage(*)  ! 1000 characters, blank padded
            integer(c_int64_t), value :: LogFileNameLength
            integer(c_int64_t), value :: ErrorMessageLength  ! not read
            integer(c_int) :: code
        end function FORTRANENTRY_ROLLERMODEL5

        ! The same run with the seven model parameters one by one; ErrorMessage
        ! (at least 1000 characters) comes back NUL-terminated.
        function C_FORTRANENTRY_RollerModel5(DamType, DamHeight, Alpha, Fc, InvalidValue, &
                                             NumberOfTimeSteps, Hm0, Tp, Wlev, IncomingWaveAngle, &
                                             DikeNormal, NumberOfProfilePoints, ProfileX, MinStepSize, &
                                             ProfileBottomLevel, RatioDepth, Logging, LogFileName, &
                                             LogFileNameLength, Ag, Rho, Hm0Toe, TpToe, WaveAngleToe, &
                                             ErrorMessage) &
            bind(C, name="C_FORTRANENTRY_RollerModel5") result(code)
            import :: c_int, c_int64_t, c_double, c_char
            integer(c_int), intent(in) :: DamType
            real(c_double), intent(in) :: DamHeight, Alpha, Fc, InvalidValue
            integer(c_int), intent(in) :: NumberOfTimeSteps
            real(c_double), intent(in) :: Hm0(*), Tp(*), Wlev(*), IncomingWaveAngle(*)
            real(c_double), intent(in) :: DikeNormal
            integer(c_int), intent(in) :: NumberOfProfilePoints
            real(c_double), intent(in) :: ProfileX(*)
            real(c_double), intent(in) :: MinStepSize
            real(c_double), intent(in) :: ProfileBottomLevel(*)
            real(c_double), intent(in) :: RatioDepth
            integer(c_int), intent(in) :: Logging
            character(kind=c_char), intent(in) :: LogFileName(*)
            integer(c_int64_t), value :: LogFileNameLength
            real(c_double), intent(in) :: Ag, Rho
            real(c_double), intent(out) :: Hm0Toe(*), TpToe(*), WaveAngleToe(*)
            character(kind=c_char), intent(out) :: ErrorMessage(*)
            integer(c_int) :: code
        end function C_FORTRANENTRY_RollerModel5

        ! Checks a profile; 0 accepted, -1 refused (the reason in ErrorMessage).
        function VALIDATEPROFILE(NumberOfProfilePoints, ProfileX, ProfileBottomLevel, Reserved1, &
                                 Reserved2, ErrorMessage, ErrorMessageLength) &
            bind(C, name="VALIDATEPROFILE") result(code)
            import :: c_int, c_int64_t, c_double, c_char, c_ptr
            integer(c_int), intent(in) :: NumberOfProfilePoints
            real(c_double), intent(in) :: ProfileX(*), ProfileBottomLevel(*)
            type(c_ptr), value :: Reserved1, Reserved2  ! never read: pass c_null_ptr
            character(kind=c_char), intent(inout) :: ErrorMessage(*)
            integer(c_int64_t), value :: ErrorMessageLength
            integer(c_int) :: code
        end function VALIDATEPROFILE

        ! Checks a series of offshore conditions; 0 acceptable, 1 calm (Hm0
        ! almost zero), -1 refused (the message of the first refused step).
        function VALIDATEHYDRAULICDATA(NumberOfTimeSteps, Hm0, Tp, Wlev, IncomingWaveAngle, &
                                       InvalidValue, ErrorMessage, ErrorMessageLength) &
            bind(C, name="VALIDATEHYDRAULICDATA") result(code)
            import :: c_int, c_int64_t, c_double, c_char
            integer(c_int), intent(in) :: NumberOfTimeSteps
            real(c_double), intent(in) :: Hm0(*), Tp(*), Wlev(*), IncomingWaveAngle(*)
            real(c_double), intent(in) :: InvalidValue
            character(kind=c_char), intent(inout) :: ErrorMessage(*)
            integer(c_int64_t), value :: ErrorMessageLength
            integer(c_int) :: code
        end function VALIDATEHYDRAULICDATA

        ! Writes the library version "major.minor.build.revision", blank padded
        ! to 1000 characters.
        subroutine GetVersionInfo(VersionText) bind(C, name="GetVersionInfo")
            import :: c_char
            character(kind=c_char), intent(out) :: VersionText(*)
        end subroutine GetVersionInfo
    end interface
end module qav
